// Taking back, or seeing through, the changes a journal lists in its
// destination folder, by what is found there: a file is acted on only when
// it is the very file the journal names (its id), so that a change never
// made needs nothing, one made already is not made twice, and whatever a
// cut interrupts here can simply be done again by the next run.
#pragma once

#include "exec/journal.h"

// The changes (records, count of them, in the order they were made) undone,
// the last first: an old file put back under its name, a new one deleted, a
// folder made removed when empty, a file written in place given its old
// bytes again. 1 when all are; otherwise the rest are still tried, and 0
// with the last error of the first that could not be (traced).
int UndoChanges(const char *folder, const JournalRecord *records, size_t count);
// What an update that is complete kept for its undo deleted: the old files
// and the copies of texts; a write in place not yet whole is finished first.
// 1 when all is; else 0 with the last error (the rest still tried).
int CompleteChanges(const char *folder, const JournalRecord *records, size_t count);
// The same for the run that made the changes, once its backups are gone:
// its writes in place are whole and flushed, so only their copies go.
void DropWriteCopies(const char *folder, const JournalRecord *records, size_t count);
// What a change made puts on disk: flushed, the changes made before it on
// that drive are there after a power failure as well.
int MakeDurable(const char *folder);
