// Doubly linked list of untyped pointers. The list owns its nodes, never the data.
#pragma once

struct PtrNode {
    void *data;
    PtrNode *next;
    PtrNode *prev;
};

struct PtrList {
    PtrNode *head;
    PtrNode *tail;
    int count;
};

PtrList *PtrListCreate(void);
void PtrListDestroy(PtrList *list);
int PtrListCount(const PtrList *list);
int PtrListIsEmpty(const PtrList *list);
PtrNode *PtrListFirst(const PtrList *list);
PtrNode *PtrListLast(const PtrList *list);
void *PtrListFirstData(const PtrList *list);
void *PtrListNextData(PtrNode **cursor);
PtrNode *PtrListPushFront(PtrList *list, void *data);
PtrNode *PtrListAppend(PtrList *list, void *data);
PtrNode *PtrListInsertAfter(PtrList *list, PtrNode *node, void *data);
PtrNode *PtrListInsertBefore(PtrList *list, PtrNode *node, void *data);
void *PtrListRemove(PtrList *list, PtrNode *node);
void *PtrListPopFront(PtrList *list);

// Pops every element and frees it with free(), then releases the list record.
void PtrListFreeStrings(PtrList *list);
