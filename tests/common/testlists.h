// Owned PtrLists for tests: destination folders (heap strings) and script
// commands (FileEntry records), released with the object.
#pragma once

#include "base/ptrlist.h"
#include "script/script.h"

#include <string>
#include <vector>

class StringList {
public:
    StringList(const std::vector<std::string> &items = {});
    ~StringList();
    StringList(const StringList &) = delete;
    StringList &operator=(const StringList &) = delete;
    void Add(const std::string &item);
    PtrList *get() { return list_; }
    std::vector<std::string> Items() const;

private:
    PtrList *list_;
};

class CommandList {
public:
    CommandList() = default;
    ~CommandList();
    CommandList(const CommandList &) = delete;
    CommandList &operator=(const CommandList &) = delete;
    void Add(const std::string &filename, int act);
    PtrList *get() { return list_; }

private:
    PtrList *list_ = PtrListCreate();
};
