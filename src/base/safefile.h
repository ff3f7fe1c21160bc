// Files the elevated updater acts on may sit in folders an ordinary user can
// write: a link put at a name would turn a write, a rename or a delete onto
// a file someone else chose. A handle is only acted through once it is known
// to hold the file meant; after that nothing is done by name again.
#pragma once

#include "base/strutil.h"

#include <windows.h>

// 1 when file is a regular file with one name and no reparse point: what
// can be asked cheaply, without its path.
int IsPlainFileHandle(HANDLE file);

// 1 when file is a regular file with one name and no reparse point, whose
// final path (links and junctions resolved) is path itself, ASCII case
// ignored and short names taken in their long form. Under a held folder (see
// HoldFolder) the final path must be the folder's final path followed by the
// rest of path.
int IsHandleOfPath(HANDLE file, const char *path);
// The same for any number of names: what reading a file, deleting one of its
// names or renaming over it needs (none of them reaches the other names).
int IsNameOfPath(HANDLE file, const char *path);

// 1 when folder is a folder, no reparse point, whose final path is path.
int IsFolderHandleOfPath(HANDLE folder, const char *path);

// CreateFileA that never follows a reparse point at the name and hands back
// only a handle IsHandleOfPath accepts; any other is closed again and the
// result is INVALID_HANDLE_VALUE with ERROR_CANT_RESOLVE_FILENAME. With
// OPEN_ALWAYS a missing file is created new, never through a link.
HANDLE OpenPlainFile(const char *path, DWORD access, DWORD share, DWORD disposition);

// OpenPlainFile of an existing file that may have further names.
HANDLE OpenNamedFile(const char *path, DWORD access, DWORD share);

// A folder whose own path, with whatever links and junctions lead to it, is
// taken as given (an administrator chose it: an installed copy moved to
// another drive and linked back): its final path is taken once and the
// folder held, reading and sharing reading and writing but not deletion, so
// that nobody can rename it away meanwhile. Until it is released, a file
// under it passes the checks above when its final path is the folder's final
// path followed by the rest of its path: a link above the folder leads where
// it led when the hold was taken, a link inside it is still refused. A folder
// under another held folder is held only when it passes that check itself.
struct FolderHold {
    HANDLE handle;
    char meant[2 * MAX_PATH_BYTES];  // its full path, ending with a backslash
    char final[2 * MAX_PATH_BYTES];  // where that leads, ending with a backslash
    int inVolume;                    // final is the path within the volume only
};
// 0, with nothing held, when the folder cannot be opened, is no folder, or
// four folders are held already; paths under it are then checked as before.
int HoldFolder(FolderHold *hold, const char *folder);
// Ends the hold (also after a failed HoldFolder).
void ReleaseFolder(FolderHold *hold);

// Copies the file's owner into sid (size bytes, SECURITY_MAX_SID_SIZE
// holds any). Needs READ_CONTROL.
int OwnerOf(HANDLE file, void *sid, DWORD size);

// Sets or clears the delete-on-close state of an open file (the handle needs
// DELETE access). While it is set the file goes with its last handle, also
// when the process is killed, and nobody else can open it.
int SetDeletePending(HANDLE file, int pending);

// Renames the open file to path (replacing what is there; a link there is
// replaced, never followed).
int RenameByHandle(HANDLE file, const char *path);

// Deletes the file at path through a handle: what DeleteFileA does, except
// that a link at the name is refused (ERROR_CANT_RESOLVE_FILENAME), never
// followed. A file with further names loses only this one.
int DeletePlainFile(const char *path);
