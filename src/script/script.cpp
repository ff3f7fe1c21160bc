#include "script/script.h"

#include <stdlib.h>

int InitUpdateScript(UpdateScript *script)
{
    script->id = nullptr;
    script->kakunin = nullptr;
    script->targets = nullptr;
    script->commands = nullptr;
    script->install = nullptr;
    script->success = nullptr;
    script->post = nullptr;
    script->atomic = 0;
    script->targets = PtrListCreate();
    if (!script->targets)
        return 0;
    script->commands = PtrListCreate();
    return script->commands ? 1 : 0;
}

void FreeUpdateScript(UpdateScript *script)
{
    free(script->id);
    free(script->kakunin);
    free(script->install);
    free(script->success);
    free(script->post);
    script->id = script->kakunin = script->install = script->success = script->post = nullptr;
    PtrListFreeStrings(script->targets);
    script->targets = nullptr;
    while (!PtrListIsEmpty(script->commands))
        FreeFileEntry((FileEntry *)PtrListPopFront(script->commands));
    PtrListDestroy(script->commands);
    script->commands = nullptr;
}

void FreeFileEntry(FileEntry *entry)
{
    if (!entry)
        return;
    if (entry->extra) {
        if (entry->act == ACT_DLL) {
            AddOnExtra *pair = (AddOnExtra *)entry->extra;
            free(pair->dll);
            free(pair->func);
        }
        free(entry->extra);
    }
    free(entry->filename);
    free(entry);
}

void HashToNewline(char *text)
{
    for (; *text; text++) {
        if (*text == '#')
            *text = '\n';
    }
}
