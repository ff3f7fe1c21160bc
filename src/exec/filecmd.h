// The plain file commands (copy, remove, create) and the file-system routines
// that other commands and the discovery share.
#pragma once

#include <windows.h>

int Copy(const char *src, const char *dst, HWND dialog);
int Delete(const char *path, HWND dialog);
int Create(const char *path);
// Creates every missing directory of path; 1 when every level exists afterwards.
int CreateDirectoryAll(const char *path);
int FindFile(const char *pattern);
int GetFileTimeByFilename(const char *name, FILETIME *creation, FILETIME *access, FILETIME *write);
int SetFileTimeByFilename(const char *name, const FILETIME *creation, const FILETIME *access,
                          const FILETIME *write);
