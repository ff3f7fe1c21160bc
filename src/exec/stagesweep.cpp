#include "exec/stagesweep.h"

#include "base/safefile.h"
#include "base/strutil.h"
#include "exec/leftover.h"

#include <string.h>

namespace {

// Deeper than any path that fits in MAX_PATH_BYTES.
enum { DEPTH_MOST = 130 };

int SameOwner(HANDLE handle, const void *ours)
{
    char sid[SECURITY_MAX_SID_SIZE];
    return OwnerOf(handle, sid, sizeof(sid)) && EqualSid(sid, (PSID)ours);
}

// Opened for deletion without sharing it: a live run holds its stage's
// folders against deletion, so they are refused here.
HANDLE OpenStaleFolder(const char *path)
{
    HANDLE folder = CreateFileA(path, DELETE | READ_CONTROL | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    if (folder == INVALID_HANDLE_VALUE || IsFolderHandleOfPath(folder, path))
        return folder;
    CloseHandle(folder);
    return INVALID_HANDLE_VALUE;
}

int DeleteStaleFile(const char *path, const void *ours)
{
    HANDLE file = OpenPlainFile(path, DELETE | READ_CONTROL, 0, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int deleted = SameOwner(file, ours) && SetDeletePending(file, 1);
    CloseHandle(file);
    return deleted;
}

int ClearFolder(const char *path, const void *ours, int depth);

int ClearEntry(const char *folder, const WIN32_FIND_DATAA &found, const void *ours, int depth)
{
    char path[MAX_PATH_BYTES];
    if (!JoinPath(path, sizeof(path), folder, found.cFileName) ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return 0;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return depth < DEPTH_MOST && ClearFolder(path, ours, depth + 1);
    return DeleteStaleFile(path, ours);
}

// Deletes folder once everything in it went; 1 when it did.
int ClearFolder(const char *path, const void *ours, int depth)
{
    char pattern[MAX_PATH_BYTES];
    HANDLE folder = OpenStaleFolder(path);
    if (folder == INVALID_HANDLE_VALUE)
        return 0;
    int cleared = SameOwner(folder, ours) && JoinPath(pattern, sizeof(pattern), path, "*");
    WIN32_FIND_DATAA found;
    HANDLE search = cleared ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            cleared = ClearEntry(path, found, ours, depth) && cleared;
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    cleared = cleared && SetDeletePending(folder, 1);
    CloseHandle(folder);
    return cleared;
}

} // namespace

void ClearStaleStages(const char *temp, HANDLE ours)
{
    char sid[SECURITY_MAX_SID_SIZE];
    char pattern[MAX_PATH_BYTES];
    if (!OwnerOf(ours, sid, sizeof(sid)) || !JoinPath(pattern, sizeof(pattern), temp, "~lu*.tmp"))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsLeftoverName(found.cFileName))
            ClearEntry(temp, found, sid, 0);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}
