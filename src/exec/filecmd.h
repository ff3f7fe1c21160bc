// The plain file commands (copy, remove, create) and the file-system routines
// that other commands and the discovery share.
#pragma once

#include <windows.h>

// A failed copy never loses the installed file: it is kept under a second
// name while the copy runs and put back unless the copy went through.
int Copy(const char *src, const char *dst, HWND dialog);
int Delete(const char *path, HWND dialog);
int Create(const char *path);
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
