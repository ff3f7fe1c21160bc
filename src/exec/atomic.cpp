#include "exec/atomic.h"

#include "base/runrecord.h"
#include "base/safefile.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "exec/atomicchange.h"
#include "exec/journalfile.h"
#include "exec/settingswrite.h"
#include "exec/undo.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char HISTORY_FILE[] = "update.log";

} // namespace

struct AtomicUpdate {
    char folder[MAX_PATH_BYTES];
    NewFile journal;          // INVALID_HANDLE_VALUE until the first changes are made
    PtrList *prepared;        // PreparedChange*, in the order they are made
    JournalRecord *made;      // the records of the journal, in order
    PtrList *backups;         // HANDLE of each file moved to its backup, held
    size_t madeCount, madeCapacity;
    char *history;            // the history's new text, while a line waits
    size_t historyLength;
    int ended;                // complete or undone
};

namespace {

int Fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

void DropPrepared(AtomicUpdate *update)
{
    while (!PtrListIsEmpty(update->prepared))
        FreePreparedChange((PreparedChange *)PtrListPopFront(update->prepared));
    free(update->history);
    update->history = nullptr;
    update->historyLength = 0;
}

int AddPrepared(AtomicUpdate *update, PreparedChange *change)
{
    if (!change)
        return 0;
    if (PtrListAppend(update->prepared, change))
        return 1;
    FreePreparedChange(change);
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
}

// The folder of path (which lies in the update's folder) is there, or a
// prepared change makes it.
int FolderWillBeThere(const AtomicUpdate *update, const char *folder)
{
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    for (PtrNode *node = PtrListFirst(update->prepared); node; node = node->next) {
        const PreparedChange *change = (const PreparedChange *)node->data;
        if (change->kind == JOURNAL_FOLDER && AsciiStricmp(change->target, folder) == 0)
            return 1;
    }
    return 0;
}

// path's folder, without its backslash, in folder; 0 when it has none
// below the update's folder.
int ParentOf(const AtomicUpdate *update, const char *path, char *folder)
{
    if (!StrCopy(folder, MAX_PATH_BYTES, path))
        return 0;
    char *slash = MbsRChr(folder, '\\');
    if (!slash || (size_t)(slash - folder) + 1 <= strlen(update->folder))
        return 0;
    *slash = '\0';
    return 1;
}

// A path in the nearest folder on the way to path that is there already,
// for a new file that moves to path once its folders are made.
int NearestThere(const AtomicUpdate *update, const char *path, char *beside)
{
    char folder[MAX_PATH_BYTES];
    if (!StrCopy(beside, MAX_PATH_BYTES, path))
        return 0;
    while (ParentOf(update, beside, folder)) {
        DWORD attributes = GetFileAttributesA(folder);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return 1;
        if (!StrCopy(beside, MAX_PATH_BYTES, folder))
            return 0;
    }
    return JoinPath(beside, MAX_PATH_BYTES, update->folder, "x");
}

int AppendMade(AtomicUpdate *update, const JournalRecord *record)
{
    if (update->madeCount == update->madeCapacity) {
        size_t grown = update->madeCapacity ? update->madeCapacity * 2 : 16;
        JournalRecord *bigger = (JournalRecord *)realloc(update->made, grown * sizeof(JournalRecord));
        if (!bigger)
            return Fail(ERROR_NOT_ENOUGH_MEMORY);
        update->made = bigger;
        update->madeCapacity = grown;
    }
    update->made[update->madeCount++] = *record;
    return 1;
}

// The records of what is prepared, each also kept among those made (so that
// an undo covers a burst cut short), written to the journal and on disk.
int JournalPrepared(AtomicUpdate *update, size_t count)
{
    JournalRecord *records = (JournalRecord *)malloc(count * sizeof(JournalRecord));
    if (!records)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    size_t n = 0;
    for (PtrNode *node = PtrListFirst(update->prepared); node; node = node->next, n++)
        if (!RecordOfChange((const PreparedChange *)node->data, update->folder, &records[n]))
            break;
    int written = n == count && (update->journal.handle != INVALID_HANDLE_VALUE ||
                                 CreateJournal(&update->journal, update->folder));
    for (PtrNode *node = PtrListFirst(update->prepared); written && node; node = node->next)
        written = KeepCopies((PreparedChange *)node->data);
    for (size_t i = 0; written && i < count; i++)
        written = AppendMade(update, &records[i]);
    written = written && WriteJournal(&update->journal, records, count);
    DWORD error = GetLastError();
    free(records);
    SetLastError(error);
    return written;
}

// The file a change moved to its backup stays held from then on.
int KeepBackup(AtomicUpdate *update, PreparedChange *change)
{
    if ((change->kind != JOURNAL_PUT && change->kind != JOURNAL_REMOVE) || change->held == INVALID_HANDLE_VALUE)
        return 1;
    if (!PtrListAppend(update->backups, change->held))
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    change->held = INVALID_HANDLE_VALUE;
    return 1;
}

// The backups let go of; deleted with them when remove says so (1 when all
// went).
int LetGoOfBackups(AtomicUpdate *update, int remove)
{
    int removed = 1;
    while (!PtrListIsEmpty(update->backups)) {
        HANDLE held = (HANDLE)PtrListPopFront(update->backups);
        if (remove && !SetDeletePending(held, 1))
            removed = 0;
        CloseHandle(held);
    }
    return removed;
}

int PrepareWaitingHistory(AtomicUpdate *update)
{
    char path[MAX_PATH_BYTES];
    if (!update->history)
        return 1;
    int prepared = JoinPath(path, sizeof(path), update->folder, HISTORY_FILE) &&
                   AddPrepared(update, PrepareTextChange(path, update->history, (unsigned long)update->historyLength));
    free(update->history);
    update->history = nullptr;
    update->historyLength = 0;
    return prepared;
}

} // namespace

AtomicUpdate *StartAtomic(const char *folder)
{
    AtomicUpdate *update = (AtomicUpdate *)calloc(1, sizeof(AtomicUpdate));
    if (!update)
        return nullptr;
    update->journal.handle = INVALID_HANDLE_VALUE;
    update->prepared = PtrListCreate();
    update->backups = PtrListCreate();
    if (update->prepared && update->backups && StrCopy(update->folder, sizeof(update->folder), folder))
        return update;
    PtrListDestroy(update->prepared);
    PtrListDestroy(update->backups);
    free(update);
    return nullptr;
}

void EndAtomic(AtomicUpdate *update)
{
    if (!update)
        return;
    if (!update->ended)
        UndoAtomic(update);
    DropPrepared(update);
    LetGoOfBackups(update, 0);
    CloseJournal(&update->journal);
    PtrListDestroy(update->prepared);
    PtrListDestroy(update->backups);
    free(update->made);
    free(update);
}

int IsPrepared(const AtomicUpdate *update, const char *path)
{
    for (PtrNode *node = PtrListFirst(update->prepared); node; node = node->next)
        if (AsciiStricmp(((const PreparedChange *)node->data)->target, path) == 0)
            return 1;
    const char *name = PathLastComponent(path);
    return update->history && AsciiStricmp(name, HISTORY_FILE) == 0 &&
           (size_t)(name - path) == strlen(update->folder) && strncmp(path, update->folder, name - path) == 0;
}

int PrepareCopy(AtomicUpdate *update, const char *src, const char *dst, const FILETIME *write,
                LPPROGRESS_ROUTINE routine, void *data)
{
    char folder[MAX_PATH_BYTES], beside[MAX_PATH_BYTES];
    if (ParentOf(update, dst, folder) && !FolderWillBeThere(update, folder))
        return Fail(ERROR_PATH_NOT_FOUND);
    if (!NearestThere(update, dst, beside))
        return Fail(ERROR_FILENAME_EXCED_RANGE);
    return AddPrepared(update, PrepareCopyChange(src, dst, beside, write, routine, data));
}

int PrepareRemove(AtomicUpdate *update, const char *path)
{
    return AddPrepared(update, PrepareRemoveChange(path));
}

DWORD PrepareFolder(AtomicUpdate *update, const char *path)
{
    char parent[MAX_PATH_BYTES];
    if (FolderWillBeThere(update, path) || GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return ERROR_ALREADY_EXISTS;
    if (ParentOf(update, path, parent) && !FolderWillBeThere(update, parent))
        return ERROR_PATH_NOT_FOUND;
    PreparedChange *change = NewPreparedChange(JOURNAL_FOLDER, path);
    return AddPrepared(update, change) ? 0 : GetLastError();
}

int PrepareHistoryLine(AtomicUpdate *update, const char *line, size_t length)
{
    if (!update->history) {
        // The history as it is now; one that cannot be read gets no line, as
        // in the plain run.
        char path[MAX_PATH_BYTES];
        SettingsFile old;
        int read = JoinPath(path, sizeof(path), update->folder, HISTORY_FILE) && ReadSettingsFile(&old, path);
        if (read) {
            update->history = old.text;
            update->historyLength = old.length;
            old.text = nullptr;
        }
        CloseSettingsFile(&old);
        if (!read)
            return 1;
    }
    char *longer = (char *)realloc(update->history, update->historyLength + length + 1);
    if (!longer)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    memcpy(longer + update->historyLength, line, length);
    update->history = longer;
    update->historyLength += length;
    return 1;
}

int PrepareSettings(AtomicUpdate *update, const char *path, const char *text, unsigned long length)
{
    return AddPrepared(update, PrepareTextChange(path, text, length));
}

int MakePrepared(AtomicUpdate *update)
{
    if (!PrepareWaitingHistory(update))
        return 0;
    size_t count = (size_t)PtrListCount(update->prepared);
    if (count == 0)
        return 1;
    if (!JournalPrepared(update, count))
        return 0;
    size_t first = update->madeCount - count;
    for (size_t i = first; !PtrListIsEmpty(update->prepared); i++) {
        PreparedChange *change = (PreparedChange *)PtrListFirstData(update->prepared);
        if (!MakeChange(change, update->folder, &update->made[i]) || !KeepBackup(update, change))
            return 0;
        FreePreparedChange((PreparedChange *)PtrListPopFront(update->prepared));
    }
    TracePrintf("\t\tchanges made - %d\n", (int)count);
    return 1;
}

int FinishAtomic(AtomicUpdate *update)
{
    JournalRecord complete;
    memset(&complete, 0, sizeof(complete));
    complete.kind = JOURNAL_COMPLETE;
    if (update->journal.handle != INVALID_HANDLE_VALUE && !WriteJournal(&update->journal, &complete, 1))
        return 0;
    update->ended = 1;
    TracePrintf("\t\tupdate complete - %s\n", update->folder);
    // What is kept for an undo goes, the backups through the handles that
    // held them since they moved (the new files took the names they were
    // staged under); what cannot go now, the next run clears.
    if (LetGoOfBackups(update, 1) && update->journal.handle != INVALID_HANDLE_VALUE) {
        DropWriteCopies(update->folder, update->made, update->madeCount);
        DeleteJournal(&update->journal);
    }
    return 1;
}

int UndoAtomic(AtomicUpdate *update)
{
    DropPrepared(update);
    LetGoOfBackups(update, 0);
    update->ended = 1;
    if (update->journal.handle == INVALID_HANDLE_VALUE ||
        UndoChanges(update->folder, update->made, update->madeCount)) {
        DeleteJournal(&update->journal);
        TracePrintf("\t\tupdate undone - %s\n", update->folder);
        RecordRestored();
        return 1;
    }
    TracePrintf("\t\tupdate not undone, left to the next run - %s\n", update->journal.path);
    CloseJournal(&update->journal);
    return 0;
}
