// Files the elevated updater acts on may sit in folders an ordinary user can
// write: a link put at a name would turn a write, a rename or a delete onto
// a file someone else chose. A handle is only acted through once it is known
// to hold the file meant; after that nothing is done by name again.
#pragma once

#include <windows.h>

// 1 when file is a regular file with one name and no reparse point: what
// can be asked cheaply, without its path.
int IsPlainFileHandle(HANDLE file);

// 1 when file is a regular file with one name and no reparse point, whose
// final path (links and junctions resolved) is path itself, ASCII case
// ignored and short names taken in their long form.
int IsHandleOfPath(HANDLE file, const char *path);

// 1 when folder is a folder, no reparse point, whose final path is path.
int IsFolderHandleOfPath(HANDLE folder, const char *path);

// CreateFileA that never follows a reparse point at the name and hands back
// only a handle IsHandleOfPath accepts; any other is closed again and the
// result is INVALID_HANDLE_VALUE with ERROR_CANT_RESOLVE_FILENAME. With
// OPEN_ALWAYS a missing file is created new, never through a link.
HANDLE OpenPlainFile(const char *path, DWORD access, DWORD share, DWORD disposition);

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

// Deletes the plain file at path through a handle: what DeleteFileA does,
// except that a link at the name is refused (ERROR_CANT_RESOLVE_FILENAME),
// never followed.
int DeletePlainFile(const char *path);
