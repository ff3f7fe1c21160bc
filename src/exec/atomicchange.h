// One change of an all-or-nothing update, prepared and not yet made: what
// exec/atomic.cpp prepares, lists in the journal and makes.
#pragma once

#include "base/ptrlist.h"
#include "exec/filereplace.h"
#include "exec/journal.h"

struct PreparedChange {
    char kind;                     // a JournalKind: P, D, M or W
    char target[MAX_PATH_BYTES];   // the full path changed
    NewFile staged;                // P, W: the new bytes, whole and on disk
    NewFile oldCopy;               // W: the old bytes, with the old times and attributes
    HANDLE held;                   // P over a file, D: held for its move to the backup; W: for writing
    FileId oldId;                  // P over a file, D, W: the file at target
    FileId newId;                  // P: the new file
    DWORD attributes;              // P: given to the new file once in place
    int kept;                      // W: its copies named by the journal (KeepCopies)
};

// A change of kind for target; null when out of memory.
PreparedChange *NewPreparedChange(char kind, const char *target);
// Drops it: what it staged goes, what it held is let go. The copies of a
// write in place that the journal names stay: the undo writes the old bytes
// back from them (the write may have been cut short) before they go.
void FreePreparedChange(PreparedChange *change);

// The new bytes text (length bytes) for the file at path: the file held for
// its move (P), or, where a program holds it so that it cannot be renamed
// but lets it be written, for writing in place (W, with a copy of its old
// bytes). A missing file gets a new one. The new file carries the old one's
// owner, permissions and attributes. null (last error set) when it cannot.
PreparedChange *PrepareTextChange(const char *path, const char *text, unsigned long length);
// A copy (the file dst, new, replaced or, where held so, written in place)
// staged beside `beside` (a path in a folder that is there): the file at
// dst held, the new one copied from src, with the times write.
PreparedChange *PrepareCopyChange(const char *src, const char *dst, const char *beside, const FILETIME *write,
                                  LPPROGRESS_ROUTINE routine, void *data);
// The file at path held for its move to a backup.
PreparedChange *PrepareRemoveChange(const char *path);

// Its journal record (names relative to folder; backup drawn afresh): 0
// when a name is out of the folder's or the journal's reach.
int RecordOfChange(const PreparedChange *change, const char *folder, JournalRecord *record);
// The copies a write in place needs (its new and old bytes) stay from now
// on, whatever becomes of the process: the journal is about to name them.
int KeepCopies(PreparedChange *change);
// Makes it, as record says. 0 with the last error set. A file moved to its
// backup stays held (held), so that the backup can go through its handle;
// the copies of a write in place are let go of, not deleted: an undo or the
// journal's completion deletes them.
int MakeChange(PreparedChange *change, const char *folder, const JournalRecord *record);
