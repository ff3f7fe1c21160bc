#include "target/destlist.h"

#include "base/strutil.h"

#include <stdlib.h>

int AppendFolderOnce(PtrList *dsts, const char *folder)
{
    for (PtrNode *cursor = PtrListFirst(dsts); cursor;) {
        if (AsciiStricmp((const char *)PtrListNextData(&cursor), folder) == 0)
            return 0;
    }
    char *copy = StrDup(folder);
    if (!copy)
        return 0;
    if (!PtrListAppend(dsts, copy)) {
        free(copy);
        return 0;
    }
    return 1;
}

int TerminateValue(char *value, size_t size, unsigned long returned)
{
    if (size == 0)
        return 0;
    if (returned < size) {
        value[returned] = '\0';
        return 1;
    }
    return value[size - 1] == '\0';
}
