#include "base/ptrlist.h"

#include <stdlib.h>

PtrList *PtrListCreate(void)
{
    return (PtrList *)calloc(1, sizeof(PtrList));
}

void PtrListDestroy(PtrList *list)
{
    free(list);
}

int PtrListCount(const PtrList *list)
{
    return list ? list->count : 0;
}

int PtrListIsEmpty(const PtrList *list)
{
    return PtrListCount(list) == 0;
}

PtrNode *PtrListFirst(const PtrList *list)
{
    return PtrListIsEmpty(list) ? nullptr : list->head;
}

PtrNode *PtrListLast(const PtrList *list)
{
    return PtrListIsEmpty(list) ? nullptr : list->tail;
}

void *PtrListFirstData(const PtrList *list)
{
    PtrNode *node = PtrListFirst(list);
    return node ? node->data : nullptr;
}

void *PtrListNextData(PtrNode **cursor)
{
    PtrNode *node = *cursor;
    *cursor = node->next;
    return node->data;
}

static PtrNode *NewNode(void *data)
{
    PtrNode *node = (PtrNode *)calloc(1, sizeof(PtrNode));
    if (node)
        node->data = data;
    return node;
}

PtrNode *PtrListPushFront(PtrList *list, void *data)
{
    if (list->head)
        return PtrListInsertBefore(list, list->head, data);
    PtrNode *node = NewNode(data);
    if (!node)
        return nullptr;
    list->head = node;
    list->tail = node;
    list->count++;
    return node;
}

PtrNode *PtrListAppend(PtrList *list, void *data)
{
    if (PtrListIsEmpty(list))
        return PtrListPushFront(list, data);
    return PtrListInsertAfter(list, list->tail, data);
}

PtrNode *PtrListInsertAfter(PtrList *list, PtrNode *node, void *data)
{
    PtrNode *added = NewNode(data);
    if (!added)
        return nullptr;
    added->next = node->next;
    added->prev = node;
    if (node->next)
        node->next->prev = added;
    else
        list->tail = added;
    node->next = added;
    list->count++;
    return added;
}

PtrNode *PtrListInsertBefore(PtrList *list, PtrNode *node, void *data)
{
    PtrNode *added = NewNode(data);
    if (!added)
        return nullptr;
    added->next = node;
    added->prev = node->prev;
    if (node->prev)
        node->prev->next = added;
    else
        list->head = added;
    node->prev = added;
    list->count++;
    return added;
}

void *PtrListRemove(PtrList *list, PtrNode *node)
{
    if (node->prev)
        node->prev->next = node->next;
    if (node->next)
        node->next->prev = node->prev;
    if (list->head == node)
        list->head = node->next;
    if (list->tail == node)
        list->tail = node->prev;
    void *data = node->data;
    free(node);
    list->count--;
    return data;
}

void *PtrListPopFront(PtrList *list)
{
    if (PtrListIsEmpty(list))
        return nullptr;
    return PtrListRemove(list, list->head);
}

void PtrListFreeStrings(PtrList *list)
{
    while (!PtrListIsEmpty(list))
        free(PtrListPopFront(list));
    PtrListDestroy(list);
}
