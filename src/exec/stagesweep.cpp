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
    HANDLE folder = CreateFileA(path, DELETE | READ_CONTROL | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE || IsFolderHandleOfPath(folder, path))
        return folder;
    CloseHandle(folder);
    return INVALID_HANDLE_VALUE;
}

int DeleteStaleFile(const char *path, const void *ours)
{
    // Reading its attributes is what the handle check needs on Windows.
    HANDLE file = OpenPlainFile(path, DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES, 0, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int deleted = SameOwner(file, ours) && SetDeletePending(file, 1);
    CloseHandle(file);
    return deleted;
}

int ClearFolder(const char *path, const void *ours, int depth);

// One entry of a folder being cleared, by its name as the folder lists it.
int ClearEntry(const char *folder, const char *name, DWORD attributes, const void *ours, int depth)
{
    char path[MAX_PATH_BYTES];
    if (!JoinPath(path, sizeof(path), folder, name) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return 0;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return depth < DEPTH_MOST && ClearFolder(path, ours, depth + 1);
    return DeleteStaleFile(path, ours);
}

// Clears what the folder held by handle lists, read through that handle:
// a second opening of it by name would not share the deletion it is open for.
int ClearListed(HANDLE folder, const char *path, const void *ours, int depth)
{
    union {
        FILE_ID_BOTH_DIR_INFO first;
        char bytes[16384];
    } listing;
    char name[MAX_PATH_BYTES];
    int cleared = 1;
    FILE_INFO_BY_HANDLE_CLASS ask = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, ask, &listing, sizeof(listing))) {
        ask = FileIdBothDirectoryInfo;
        for (const char *at = listing.bytes;;) {
            const FILE_ID_BOTH_DIR_INFO *entry = (const FILE_ID_BOTH_DIR_INFO *)at;
            int length = WideCharToMultiByte(CP_ACP, 0, entry->FileName, (int)(entry->FileNameLength / sizeof(WCHAR)),
                                             name, (int)sizeof(name) - 1, nullptr, nullptr);
            name[length > 0 ? length : 0] = '\0';
            if (length <= 0)
                cleared = 0;
            else if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0)
                cleared = ClearEntry(path, name, entry->FileAttributes, ours, depth) && cleared;
            if (!entry->NextEntryOffset)
                break;
            at += entry->NextEntryOffset;
        }
    }
    return cleared && GetLastError() == ERROR_NO_MORE_FILES;
}

// Deletes folder once everything in it went; 1 when it did.
int ClearFolder(const char *path, const void *ours, int depth)
{
    HANDLE folder = OpenStaleFolder(path);
    if (folder == INVALID_HANDLE_VALUE)
        return 0;
    int cleared = SameOwner(folder, ours) && ClearListed(folder, path, ours, depth) && SetDeletePending(folder, 1);
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
            ClearEntry(temp, found.cFileName, found.dwFileAttributes, sid, 0);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}
