#include "exec/update.h"

#include "base/tracelog.h"

#include <stdlib.h>

// Not yet built: the executor arrives with the file commands work. Until then
// it takes the destinations and carries out nothing.
int Update(void *instance, const char *srcFolder, PtrList *dsts, const PtrList *commands,
           const char *id, int silent)
{
    (void)instance;
    (void)srcFolder;
    (void)commands;
    (void)id;
    (void)silent;
    TracePrintf("\t[%s]>>\n", "Update");
    while (!PtrListIsEmpty(dsts))
        free(PtrListPopFront(dsts));
    TracePrintf("\tbResult = %d\n", 0);
    TracePrintf("\t[%s]<<\n", "Update");
    return 0;
}

int ReplaceDstPath(char *text, size_t size, const char *folder)
{
    (void)text;
    (void)size;
    (void)folder;
    return 0;
}
