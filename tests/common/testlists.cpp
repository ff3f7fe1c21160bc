#include "testlists.h"

#include <stdlib.h>
#include <string.h>

StringList::StringList(const std::vector<std::string> &items) : list_(PtrListCreate())
{
    for (const auto &item : items)
        Add(item);
}

StringList::~StringList()
{
    PtrListFreeStrings(list_);
}

void StringList::Add(const std::string &item)
{
    PtrListAppend(list_, strdup(item.c_str()));
}

std::vector<std::string> StringList::Items() const
{
    std::vector<std::string> items;
    for (PtrNode *cursor = PtrListFirst(list_); cursor;)
        items.push_back((const char *)PtrListNextData(&cursor));
    return items;
}

CommandList::~CommandList()
{
    while (!PtrListIsEmpty(list_)) {
        FileEntry *entry = (FileEntry *)PtrListPopFront(list_);
        free(entry->filename);
        free(entry);
    }
    PtrListDestroy(list_);
}

void CommandList::Add(const std::string &filename, int act)
{
    FileEntry *entry = (FileEntry *)calloc(1, sizeof(FileEntry));
    entry->filename = strdup(filename.c_str());
    entry->act = act;
    PtrListAppend(list_, entry);
}
