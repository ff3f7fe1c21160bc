// The journal of an all-or-nothing update on disk: a file of the updater's
// own in the destination folder, "~lu" + 16 random hex digits + ".jnl",
// created new, held without sharing while its update runs, and private
// (only the administrators and the system may open it), so that what the
// next run reads in it is what the updater wrote.
#pragma once

#include "exec/filereplace.h"
#include "exec/journal.h"

// The file's volume serial and index: what stays with it across renames.
int FileIdOf(HANDLE file, FileId *id);

// A new journal in folder (ending with a backslash), holding its header.
// It goes with its handle, also when the process is killed, until records
// are written to it.
int CreateJournal(NewFile *journal, const char *folder);
// Appends the records and puts them on disk before returning; from then on
// the journal stays, whatever becomes of the process.
int WriteJournal(NewFile *journal, const JournalRecord *records, size_t count);
// The journal goes: it is deleted through its handle.
void DeleteJournal(NewFile *journal);

// Told of each journal found in folder: its records (count of them) and
// the journal itself, held without sharing (DeleteJournal deletes it,
// CloseJournal lets go of it). Returns 1 to go on, 0 to stop.
typedef int (*JournalSeen)(const char *folder, NewFile *journal, const JournalRecord *records, size_t count,
                           void *data);
// Hands seen every journal of this updater's making in folder. A file of
// the journals' pattern that is not one (another owner, a link, no header)
// is passed over and traced. 0, with the last error set, when one could
// not be read: a running updater holds it, or it is out of reach.
int ForEachJournal(const char *folder, JournalSeen seen, void *data);
// Lets go of a journal found, leaving it where it is.
void CloseJournal(NewFile *journal);
