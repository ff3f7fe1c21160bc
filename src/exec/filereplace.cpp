#include "exec/filereplace.h"

#include "base/strutil.h"
#include "base/tracelog.h"
#include "exec/leftover.h"

#include <string.h>

namespace {

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

DWORD OpenError(const char *path, DWORD access, DWORD share)
{
    HANDLE handle = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(handle);
    return 0;
}

// The error that writing over an existing file meets, as a copy onto it
// would: a loaded module or a file held without write sharing refuses the
// open; the read-only attribute is honoured even where the platform would
// let its owner write through it.
DWORD OverwriteError(const char *path)
{
    DWORD attrs = GetFileAttributesA(path);
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return ERROR_ACCESS_DENIED;
    return OpenError(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
}

// The error that keeps dst from being replaced (0 when nothing does): a file
// that cannot be deleted is never written over in place, since a kill in the
// middle would leave it partial.
DWORD ReplaceError(const char *dst)
{
    DWORD outcome = DeleteOutcome(dst);
    if (outcome == 0 || outcome == ERROR_FILE_NOT_FOUND || outcome == ERROR_PATH_NOT_FOUND)
        return 0;
    DWORD overwrite = OverwriteError(dst);
    return overwrite ? overwrite : outcome;
}

void RemoveLeftover(const char *temp)
{
    DWORD error = GetLastError();
    // A copy of a read-only source carries the attribute.
    SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(temp);
    SetLastError(error);
}

// Gives the new file its times and puts its data on disk before it can take
// the installed name. A read-only copy is opened past its attribute for that.
int SealNewFile(const char *temp, const FILETIME *write)
{
    DWORD attrs = GetFileAttributesA(temp);
    int readOnly = attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY);
    if (readOnly)
        SetFileAttributesA(temp, attrs & ~FILE_ATTRIBUTE_READONLY);
    HANDLE handle = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    BOOL flushed = FALSE;
    DWORD error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE) {
        if (write)
            SetFileTime(handle, write, nullptr, write);
        flushed = FlushFileBuffers(handle);
        error = GetLastError();
        CloseHandle(handle);
    }
    if (readOnly)
        SetFileAttributesA(temp, attrs);
    SetLastError(error);
    return flushed ? 1 : 0;
}

// Puts the new file on disk and renames it over dst. Another program may
// look into a file the moment it is written (a virus scanner, the shell's
// link handler under Wine) and hold it for a moment: a sharing violation is
// waited out for up to a second before it counts.
int SealAndRename(const char *temp, const char *dst, const FILETIME *write)
{
    for (int attempt = 0;; attempt++) {
        if (SealNewFile(temp, write) && MoveFileExA(temp, dst, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return 1;
        if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == 20)
            return 0;
        Sleep(50);
    }
}

int IsSubfolder(const WIN32_FIND_DATAA &found)
{
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && strcmp(found.cFileName, ".") != 0 &&
           strcmp(found.cFileName, "..") != 0;
}

void ClearFound(const char *folder, const WIN32_FIND_DATAA &found, int subfolders)
{
    char path[MAX_PATH_BYTES];
    if (!JoinPath(path, sizeof(path), folder, found.cFileName))
        return;
    if (IsSubfolder(found)) {
        if (subfolders)
            ClearLeftovers(path, subfolders);
    } else if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsLeftoverName(found.cFileName)) {
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileA(path))
            TracePrintf("\t\tleftover removed - %s\n", path);
    }
}

} // namespace

DWORD DeleteOutcome(const char *path)
{
    DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return GetLastError();
    if (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_ACCESS_DENIED;
    DWORD error = OpenError(path, DELETE, SHARE_ALL);
    if (error)
        return error;
    // Open for deletion but not for writing: a mapped module, whose deletion
    // the system refuses.
    return OpenError(path, GENERIC_WRITE, SHARE_ALL) == ERROR_SHARING_VIOLATION ? ERROR_ACCESS_DENIED : 0;
}

int LeftoverPathFor(char *temp, size_t size, const char *path)
{
    char folder[MAX_PATH_BYTES];
    char name[LEFTOVER_NAME_BYTES];
    if (!StrCopy(folder, sizeof(folder), path))
        return 0;
    char *slash = MbsRChr(folder, '\\');
    if (!slash)
        return 0;
    slash[1] = '\0';
    LeftoverName(name, GetCurrentProcessId());
    if (JoinPath(temp, size, folder, name))
        return 1;
    // Near the length limit the folder's short form may leave room.
    char shortFolder[MAX_PATH_BYTES];
    DWORD len = GetShortPathNameA(folder, shortFolder, sizeof(shortFolder));
    return len > 0 && len < sizeof(shortFolder) && JoinPath(temp, size, shortFolder, name);
}

int CommitFile(const char *temp, const char *dst)
{
    if (SealAndRename(temp, dst, nullptr))
        return 1;
    RemoveLeftover(temp);
    return 0;
}

int ReplaceByCopy(const char *src, const char *dst, const FILETIME *write, LPPROGRESS_ROUTINE routine,
                  void *data)
{
    DWORD blocked = ReplaceError(dst);
    if (blocked) {
        SetLastError(blocked);
        return 0;
    }
    char temp[MAX_PATH_BYTES];
    if (!LeftoverPathFor(temp, sizeof(temp), dst)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    BOOL cancel = FALSE;
    if (!CopyFileExA(src, temp, routine, data, &cancel, COPY_FILE_RESTARTABLE)) {
        // A restartable copy keeps its part on purpose, and Wine leaves one
        // on a full disk.
        RemoveLeftover(temp);
        return 0;
    }
    if (!SealAndRename(temp, dst, write)) {
        DWORD error = GetLastError();
        RemoveLeftover(temp);
        // Whatever came between the check and the rename, say what refuses it.
        DWORD now = ReplaceError(dst);
        SetLastError(now ? now : error);
        return 0;
    }
    return 1;
}

void ClearLeftovers(const char *folder, int subfolders)
{
    char pattern[MAX_PATH_BYTES];
    if (!JoinPath(pattern, sizeof(pattern), folder, "*"))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        ClearFound(folder, found, subfolders);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void ClearLeftoversIn(const PtrList *folders)
{
    for (PtrNode *cursor = PtrListFirst(folders); cursor;)
        ClearLeftovers((const char *)PtrListNextData(&cursor), 1);
}
