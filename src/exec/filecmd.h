// The plain file commands (copy, remove, create) and the file-system routines
// that other commands and the discovery share.
#pragma once

#include <windows.h>

// The installed file's name holds the whole old file until the whole new
// one replaces it, whatever happens meanwhile (a failed copy, a full disk, a
// kill); the trace and the questions are those of deleting, then copying.
int Copy(const char *src, const char *dst, HWND dialog);
int Delete(const char *path, HWND dialog);
int Create(const char *path);
// The same commands in a destination updated all or nothing (exec/atomic.h):
// the trace and the questions are the plain commands'; what is done is the
// change prepared, to be made with the others.
struct AtomicUpdate;
int CopyPrepared(AtomicUpdate *update, const char *src, const char *dst, HWND dialog);
int DeletePrepared(AtomicUpdate *update, const char *path, HWND dialog);
int CreatePrepared(AtomicUpdate *update, const char *path);
// Creates every missing directory of path; 1 when every level exists afterwards.
int CreateDirectoryAll(const char *path);
int FindFile(const char *pattern);
int GetFileTimeByFilename(const char *name, FILETIME *creation, FILETIME *access, FILETIME *write);
int SetFileTimeByFilename(const char *name, const FILETIME *creation, const FILETIME *access,
                          const FILETIME *write);

// Serves one waiting message of the progress dialog per call; never stops
// the copy. data points at the dialog's window handle (null in a silent run).
DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER total, LARGE_INTEGER transferred,
                                   LARGE_INTEGER streamSize, LARGE_INTEGER streamTransferred,
                                   DWORD stream, DWORD reason, HANDLE source, HANDLE destination,
                                   LPVOID data);
