#include "base/runrecord.h"

#include "base/strutil.h"

#include <stdlib.h>
#include <string.h>

namespace {

RunRecord g_record;

// Appends a heap record to list; frees it when the list cannot take it (the
// record then lacks that entry, the run goes on).
void *Keep(PtrList *list, void *item)
{
    if (item && !PtrListAppend(list, item)) {
        free(item);
        item = nullptr;
    }
    return item;
}

RecordedFolder *FindFolder(const char *folder)
{
    for (PtrNode *cursor = PtrListFirst(g_record.folders); cursor;) {
        RecordedFolder *entry = (RecordedFolder *)PtrListNextData(&cursor);
        if (AsciiStricmp(entry->folder, folder) == 0)
            return entry;
    }
    return nullptr;
}

RecordedFolder *AddFolder(const char *folder)
{
    char *copy = StrDup(folder);
    RecordedFolder *entry = copy ? (RecordedFolder *)calloc(1, sizeof(RecordedFolder)) : nullptr;
    if (entry)
        entry->folder = copy;
    if (!Keep(g_record.folders, entry)) {
        free(copy);
        return nullptr;
    }
    return entry;
}

void FreeFolder(RecordedFolder *entry)
{
    while (!PtrListIsEmpty(entry->commands)) {
        RecordedCommand *command = (RecordedCommand *)PtrListPopFront(entry->commands);
        free(command->path);
        free(command);
    }
    PtrListDestroy(entry->commands);
    free(entry->folder);
    free(entry);
}

// The command under way ends with outcome; what was noted for it is cleared.
void AddCommand(int outcome)
{
    if (!g_record.on || !g_record.current || !g_record.current->commands)
        return;
    RecordedCommand *command = (RecordedCommand *)malloc(sizeof(RecordedCommand));
    if (command) {
        command->outcome = outcome;
        command->error = g_record.error;
        // Only a command that did not go through keeps its file.
        command->path = outcome != OUTCOME_DONE ? g_record.path : nullptr;
        if (command->path)
            g_record.path = nullptr;
        if (!Keep(g_record.current->commands, command))
            free(command->path);
    }
    g_record.error = 0;
    free(g_record.path);
    g_record.path = nullptr;
}

// Keeps a heap copy of text in *slot unless one is there already.
void KeepFirst(char **slot, const char *text)
{
    if (g_record.on && !*slot && text)
        *slot = StrDup(text);
}

} // namespace

const RunRecord *GetRunRecord(void)
{
    return &g_record;
}

void RunRecordStart(void)
{
    g_record.folders = PtrListCreate();
    g_record.boxes = PtrListCreate();
    g_record.on = g_record.folders && g_record.boxes;
}

void RunRecordFree(void)
{
    while (!PtrListIsEmpty(g_record.folders))
        FreeFolder((RecordedFolder *)PtrListPopFront(g_record.folders));
    while (!PtrListIsEmpty(g_record.boxes)) {
        RecordedBox *box = (RecordedBox *)PtrListPopFront(g_record.boxes);
        free(box->caption);
        free(box->text);
        free(box);
    }
    PtrListDestroy(g_record.folders);
    PtrListDestroy(g_record.boxes);
    RecordedCause &cause = g_record.cause;
    char *texts[] = {g_record.path, cause.held, cause.holder, cause.shortOf, cause.lineText};
    for (char *text : texts)
        free(text);
    memset(&g_record, 0, sizeof(g_record));
}

void RecordGate(const char *folder, const char *version, int accepted)
{
    if (!g_record.on)
        return;
    RecordedFolder *entry = FindFolder(folder);
    if (!entry && !(entry = AddFolder(folder)))
        return;
    entry->versionRead = version != nullptr;
    StrCopy(entry->version, sizeof(entry->version), version ? version : "");
    entry->accepted = accepted;
}

void RecordFolderStart(const char *folder)
{
    if (!g_record.on)
        return;
    g_record.error = 0;
    g_record.current = FindFolder(folder);
    if (!g_record.current && (g_record.current = AddFolder(folder)) != nullptr)
        g_record.current->accepted = 1;
    if (g_record.current && !g_record.current->commands)
        g_record.current->commands = PtrListCreate();
}

void RecordRestored(void)
{
    if (g_record.on && g_record.current)
        g_record.current->restored = 1;
}

void RecordError(unsigned long error)
{
    g_record.error = error;
}

void RecordFaultPath(const char *path)
{
    KeepFirst(&g_record.path, path);
}

void RecordCommand(int ok)
{
    AddCommand(!ok ? OUTCOME_FAILED : g_record.error ? OUTCOME_IGNORED : OUTCOME_DONE);
}

void RecordPrediction(int outcome)
{
    AddCommand(outcome);
}

void RecordHeld(const char *module, unsigned long holderId, const char *holder)
{
    RecordedCause *cause = &g_record.cause;
    if (cause->held)
        return;
    KeepFirst(&cause->held, module);
    cause->holderId = holderId;
    KeepFirst(&cause->holder, holderId ? holder : nullptr);
}

void RecordNoSpace(const char *folder, long long needed, long long freeBytes)
{
    RecordedCause *cause = &g_record.cause;
    if (cause->shortOf)
        return;
    KeepFirst(&cause->shortOf, folder);
    cause->needed = needed;
    cause->freeBytes = freeBytes;
}

void RecordScriptLine(long line, const char *text)
{
    RecordedCause *cause = &g_record.cause;
    if (cause->scriptLine || !g_record.on)
        return;
    cause->scriptLine = line;
    KeepFirst(&cause->lineText, text);
}

void RecordBox(const char *caption, const char *text, unsigned int type, int answer)
{
    if (!g_record.on)
        return;
    RecordedBox *box = (RecordedBox *)calloc(1, sizeof(RecordedBox));
    if (!box)
        return;
    box->caption = caption ? StrDup(caption) : nullptr;
    box->text = StrDup(text ? text : "");
    box->type = type;
    box->answer = answer;
    Keep(g_record.boxes, box);
}
