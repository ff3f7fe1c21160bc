#include "exec/filecmd.h"

// Not yet built: the file commands arrive with the file commands work.
int Copy(const char *src, const char *dst, HWND dialog)
{
    (void)src;
    (void)dst;
    (void)dialog;
    return 0;
}

int Delete(const char *path, HWND dialog)
{
    (void)path;
    (void)dialog;
    return 0;
}

int Create(const char *path)
{
    (void)path;
    return 0;
}

int CreateDirectoryAll(const char *path)
{
    (void)path;
    return 0;
}

int FindFile(const char *pattern)
{
    (void)pattern;
    return 0;
}

int GetFileTimeByFilename(const char *name, FILETIME *creation, FILETIME *access, FILETIME *write)
{
    (void)name;
    (void)creation;
    (void)access;
    (void)write;
    return 0;
}

int SetFileTimeByFilename(const char *name, const FILETIME *creation, const FILETIME *access,
                          const FILETIME *write)
{
    (void)name;
    (void)creation;
    (void)access;
    (void)write;
    return 0;
}
