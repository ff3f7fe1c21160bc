#include "base/ptrlist.h"

#include <gtest/gtest.h>

namespace {

std::vector<int> Walk(const PtrList *list)
{
    std::vector<int> out;
    PtrNode *cursor = PtrListFirst(list);
    while (cursor)
        out.push_back((int)(intptr_t)PtrListNextData(&cursor));
    return out;
}

void ExpectLinked(const PtrList *list)
{
    int n = 0;
    const PtrNode *prev = nullptr;
    for (const PtrNode *p = list->head; p; prev = p, p = p->next, n++)
        EXPECT_EQ(p->prev, prev);
    EXPECT_EQ(list->tail, prev);
    EXPECT_EQ(list->count, n);
}

TEST(PtrList, NewAndNullListsAreEmpty)
{
    PtrList *list = PtrListCreate();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(PtrListCount(list), 0);
    EXPECT_EQ(PtrListIsEmpty(list), 1);
    EXPECT_EQ(PtrListFirst(list), nullptr);
    EXPECT_EQ(PtrListLast(list), nullptr);
    EXPECT_EQ(PtrListFirstData(list), nullptr);
    EXPECT_EQ(PtrListPopFront(list), nullptr);
    PtrListDestroy(list);
    EXPECT_EQ(PtrListCount(nullptr), 0);
    EXPECT_EQ(PtrListIsEmpty(nullptr), 1);
    EXPECT_EQ(PtrListFirst(nullptr), nullptr);
    EXPECT_EQ(PtrListPopFront(nullptr), nullptr);
    PtrListDestroy(nullptr);
}

TEST(PtrList, KeepsInsertionOrderAndLinks)
{
    PtrList *list = PtrListCreate();
    PtrNode *one = PtrListAppend(list, (void *)1);
    EXPECT_EQ(list->head, one);
    EXPECT_EQ(list->tail, one);
    PtrNode *three = PtrListAppend(list, (void *)3);
    PtrListInsertBefore(list, three, (void *)2);
    PtrListPushFront(list, (void *)0);
    PtrListInsertAfter(list, three, (void *)4);
    EXPECT_EQ(Walk(list), (std::vector<int>{0, 1, 2, 3, 4}));
    ExpectLinked(list);
    EXPECT_EQ(PtrListRemove(list, three), (void *)3);
    EXPECT_EQ(Walk(list), (std::vector<int>{0, 1, 2, 4}));
    ExpectLinked(list);
    while (!PtrListIsEmpty(list))
        PtrListPopFront(list);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    PtrListDestroy(list);
}

TEST(PtrList, NullElementsCountAndPop)
{
    PtrList *list = PtrListCreate();
    PtrListAppend(list, nullptr);
    PtrListAppend(list, (void *)7);
    EXPECT_EQ(PtrListPopFront(list), nullptr);
    EXPECT_EQ(PtrListCount(list), 1);
    EXPECT_EQ(PtrListPopFront(list), (void *)7);
    EXPECT_EQ(PtrListIsEmpty(list), 1);
    PtrListDestroy(list);
}

} // namespace
