#include "exec/recover.h"

#include "base/dryrun.h"
#include "base/tracelog.h"
#include "exec/journalfile.h"
#include "exec/undo.h"

namespace {

int g_left;

int IsComplete(const JournalRecord *records, size_t count)
{
    return count > 0 && records[count - 1].kind == JOURNAL_COMPLETE;
}

void TraceNotFinished(const char *path)
{
    char *text = GetLastErrorText();
    TracePrintf("\tpending update not finished - %s - %s", path, text);
    LocalFree(text);
}

int Finish(const char *folder, NewFile *journal, const JournalRecord *records, size_t count, void *data)
{
    (void)data;
    if (IsDryRun()) {
        TracePrintf("\tpending update found - %s\n", journal->path);
        return 1;
    }
    int complete = IsComplete(records, count);
    if (!(complete ? CompleteChanges(folder, records, count) : UndoChanges(folder, records, count))) {
        TraceNotFinished(journal->path);
        g_left = 1;
        return 1;
    }
    TracePrintf(complete ? "\tpending update completed - %s\n" : "\tpending update undone - %s\n", journal->path);
    DeleteJournal(journal);
    return 1;
}

int Count(const char *folder, NewFile *journal, const JournalRecord *records, size_t count, void *data)
{
    (void)folder;
    (void)journal;
    (void)records;
    (void)count;
    *(int *)data = 1;
    return 0;
}

} // namespace

int FinishCutShort(const char *folder)
{
    int before = g_left;
    g_left = 0;
    if (!ForEachJournal(folder, Finish, nullptr)) {
        TraceNotFinished(folder);
        g_left = 1;
    }
    int finished = !g_left;
    g_left = g_left || before;
    return finished;
}

int CutShortLeft(void)
{
    return g_left;
}

int IsCutShort(const char *folder)
{
    int found = 0;
    ForEachJournal(folder, Count, &found);
    return found;
}
