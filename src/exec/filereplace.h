// Replacing an installed file so that its name holds, at every instant and
// after a kill at any point, either the whole old file or the whole new one:
// the new file is written under a leftover name beside it, put on disk, and
// only then renamed over the old one. The folder may be one an ordinary user
// can write, so the new file is created new under a name nobody can know
// beforehand, and everything after its creation goes through its handle.
#pragma once

#include "base/strutil.h"
#include "exec/leftover.h"

#include <windows.h>

// What deleting path would fail with (0 when it would succeed), found
// without deleting anything.
DWORD DeleteOutcome(const char *path);
// The error that keeps dst from being replaced (0 when nothing does).
DWORD ReplaceError(const char *dst);
// dst opened to be written in place, or INVALID_HANDLE_VALUE: only a plain
// file with one name, where it was meant, that its holder lets be written
// and that is not read-only.
HANDLE OpenForInPlace(const char *dst);
// Another program may open a file the moment it appears under its name (a
// virus scanner, the shell's link handler under Wine) and hold it for a
// moment: a sharing violation at the rename is waited out for up to a second.
int RenameWaiting(HANDLE handle, const char *path);
// 1 when file provably is this updater's own: made by a process that runs
// as this one does (on Windows the administrators own it). READ_CONTROL.
int IsOwnFile(HANDLE file, const char *folder);

// A file being written under a leftover name. Until it is committed it is
// pending deletion: it goes with its handle, also when the process is
// killed, and no other process can open it.
struct NewFile {
    HANDLE handle;
    char path[MAX_PATH_BYTES];
};

// Creates the new file for path in path's folder: never over anything that
// is at the name (a link included), held without sharing, with access for
// writing, deleting and what extraAccess adds. 0 with the last error set
// when it cannot be had.
int NewFileBeside(NewFile *file, const char *path, DWORD extraAccess);
// The same under a name of kind; private: only the administrators and the
// system may open it (a journal and the copies it names, which the next run
// reads back as they were written).
int NewFileOfKind(NewFile *file, const char *path, DWORD extraAccess, LeftoverKind kind, int isPrivate);
// Appends size bytes to it.
int NewFileWrite(NewFile *file, const void *data, DWORD size);
// Gives it the times (when write is not null: creation and last write) and
// puts it on disk.
int SealNewFile(NewFile *file, const FILETIME *write);
// Renames it over path and gives it attributes (when not 0). On failure it
// is kept as it was (still going with its handle), path is as it was and
// the last error tells why.
int RenameNewFile(NewFile *file, const char *path, DWORD attributes);
// Both; on failure the file is discarded.
int CommitNewFile(NewFile *file, const char *path, const FILETIME *write, DWORD attributes);
// Drops it: the file goes with its handle. Keeps the last error.
void DiscardNewFile(NewFile *file);

// The copy of src made whole and on disk in a new file beside `beside`,
// with the times write (when not null), not yet in place: held and pending
// deletion like any new file; *carried: the source's attributes a copy
// carries. On failure nothing is left.
int StageCopy(const char *src, const char *beside, const FILETIME *write, LPPROGRESS_ROUTINE routine, void *data,
              NewFile *file, DWORD *carried, int isPrivate);
// The bytes of source (read on from where it stands) in a new file beside
// `beside`, not flushed.
int StageCopyFrom(HANDLE source, const char *beside, NewFile *file, int isPrivate);

// Writes size bytes as the whole file at path (made absolute from the
// current folder) that way: a new file beside it, renamed over it once on
// disk. 1 when written; else nothing at path has changed and the last error
// tells why.
int WriteWholeFile(const char *path, const void *bytes, DWORD size);

// Copies src over dst that way, with the source's last-write time as the new
// file's creation and last-write times and the source's attributes. Where
// another program holds dst so that it cannot be replaced but lets it be
// written, the new file, whole on disk, is written over dst in place
// instead (OverwriteInPlace). The copy reports its progress to routine with
// data. On failure nothing is left under a leftover name, dst has not
// changed unless a write in place failed after it began, and the last error
// tells why (for a file that can be neither replaced nor written, what
// refuses it).
int ReplaceByCopy(const char *src, const char *dst, const FILETIME *write,
                  LPPROGRESS_ROUTINE routine, void *data);

// What a run cut off by a power failure may have left in folder: deletes
// each file there that this updater provably made under a leftover name and
// that no live updater holds, through its handle, and traces it.
void ClearLeftovers(const char *folder);
