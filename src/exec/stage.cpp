#define _CRT_RAND_S
#include "exec/stage.h"

#include "base/ptrlist.h"
#include "base/safefile.h"
#include "base/sha256.h"
#include "base/strutil.h"
#include "exec/leftover.h"
#include "exec/stagesweep.h"

#include <sddl.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct Stage {
    char src[MAX_PATH_BYTES];   // the update folder, ending in a backslash
    char root[MAX_PATH_BYTES];  // the copies' folder, ending in a backslash
    PtrList *files;             // handles of the copies
    PtrList *folders;           // the folders held (HeldFolder), innermost first
    PtrList *names;             // what was staged, relative; folders end in a backslash
};

Stage g_stage;

struct HeldFolder {
    HANDLE handle;
    char path[MAX_PATH_BYTES];  // without its trailing backslash
};

// Held against renaming and deletion, so that its path keeps leading here;
// not for deletion itself, which a program's current folder (opened sharing
// reading and writing only) could not be then.
int HoldFolder(const char *path)
{
    HeldFolder *held = (HeldFolder *)malloc(sizeof(HeldFolder));
    if (!held || !StrCopy(held->path, sizeof(held->path), path)) {
        free(held);
        return 0;
    }
    held->path[strlen(held->path) - 1] = '\0';
    held->handle = CreateFileA(held->path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (held->handle != INVALID_HANDLE_VALUE && PtrListPushFront(g_stage.folders, held))
        return 1;
    if (held->handle != INVALID_HANDLE_VALUE)
        CloseHandle(held->handle);
    free(held);
    return 0;
}

// Lets go of a folder and deletes it when it is empty and still the one made.
void DeleteFolder(HeldFolder *held)
{
    CloseHandle(held->handle);
    HANDLE folder = CreateFileA(held->path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder != INVALID_HANDLE_VALUE) {
        if (IsFolderHandleOfPath(folder, held->path))
            SetDeletePending(folder, 1);
        CloseHandle(folder);
    }
    free(held);
}

int Remember(const char *relative)
{
    char *copy = StrDup(relative);
    if (copy && PtrListAppend(g_stage.names, copy))
        return 1;
    free(copy);
    return 0;
}

int IsStaged(const char *relative)
{
    for (PtrNode *cursor = PtrListFirst(g_stage.names); cursor;)
        if (AsciiStricmp((const char *)PtrListNextData(&cursor), relative) == 0)
            return 1;
    return 0;
}

// The folders on the way to relative, each made once (they take the root's
// permissions) and held.
int MakeFolders(const char *relative)
{
    char part[MAX_PATH_BYTES];
    char path[MAX_PATH_BYTES];
    if (!StrCopy(part, sizeof(part), relative))
        return 0;
    for (char *slash = MbsChr(part, '\\'); slash; slash = MbsChr(slash + 1, '\\')) {
        char kept = slash[1];
        slash[1] = '\0';
        int made = IsStaged(part) ||
                   (JoinPath(path, sizeof(path), g_stage.root, part) &&
                    CreateDirectoryA(path, nullptr) && HoldFolder(path) && Remember(part));
        slash[1] = kept;
        if (!made)
            return 0;
    }
    return 1;
}

// A copy's new file at path, created where nothing is, not even a link
// (reading, for the handle check's questions).
HANDLE CreateCopy(const char *path)
{
    HANDLE copy = CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (copy == INVALID_HANDLE_VALUE || IsHandleOfPath(copy, path))
        return copy;
    SetDeletePending(copy, 1);
    CloseHandle(copy);
    return INVALID_HANDLE_VALUE;
}

// Copies source into the new file at path while hashing it: the copy holds
// exactly the bytes that were hashed.
int CopyChecked(HANDLE source, const char *path, const unsigned char *sha256, unsigned long long size)
{
    HANDLE copy = CreateCopy(path);
    if (copy == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    unsigned char digest[SHA256_DIGEST_BYTES];
    unsigned long long copied = 0;
    int same = SetFilePointerEx(source, zero, nullptr, FILE_BEGIN) && CopyHashSha256(source, copy, digest, &copied) &&
               copied == size && memcmp(digest, sha256, SHA256_DIGEST_BYTES) == 0;
    SetFilePointerEx(source, zero, nullptr, FILE_BEGIN);
    if (!same)
        SetDeletePending(copy, 1);
    CloseHandle(copy);
    return same;
}

// The loader opens a library or a program for reading and sharing only
// reading: the copy is held the same way, with delete access for the end.
int HoldCopy(const char *path)
{
    HANDLE copy = CreateFileA(path, GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (copy == INVALID_HANDLE_VALUE)
        return 0;
    if (IsHandleOfPath(copy, path) && PtrListAppend(g_stage.files, copy))
        return 1;
    SetDeletePending(copy, 1);
    CloseHandle(copy);
    return 0;
}

// The system's own Temp folder: where the stages are (never the user's
// temporary folder, which its user can write).
int StageTempFolder(char *temp, size_t size)
{
    UINT length = GetSystemWindowsDirectoryA(temp, (UINT)size);
    return length > 0 && length < size && AddBackslash(temp, size) && StrAppend(temp, size, "Temp");
}

// The lists and the update folder's name, for a stage made or adopted.
int StartStage(const char *srcFolder)
{
    memset(&g_stage, 0, sizeof(g_stage));
    g_stage.files = PtrListCreate();
    g_stage.folders = PtrListCreate();
    g_stage.names = PtrListCreate();
    return g_stage.files && g_stage.folders && g_stage.names &&
           StrCopy(g_stage.src, sizeof(g_stage.src), srcFolder);
}

} // namespace

int OpenStage(const char *srcFolder)
{
    char temp[MAX_PATH_BYTES];
    char name[LEFTOVER_NAME_BYTES];
    unsigned int high = 0, low = 0;
    if (!StartStage(srcFolder) || !StageTempFolder(temp, sizeof(temp)) || rand_s(&high) != 0 || rand_s(&low) != 0)
        return 0;
    LeftoverName(name, high, low);
    // Administrators and the system only, nothing inherited from Temp, where
    // every user may create files.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!JoinPath(g_stage.root, sizeof(g_stage.root), temp, name) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                              SDDL_REVISION_1, &descriptor, nullptr))
        return 0;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    int made = CreateDirectoryA(g_stage.root, &attributes);
    LocalFree(descriptor);
    if (!made || !AddBackslash(g_stage.root, sizeof(g_stage.root)) || !HoldFolder(g_stage.root) || !Remember(""))
        return 0;
    // Only now that this run's folder is held: a sweep never takes it.
    ClearStaleStages(temp, ((HeldFolder *)PtrListFirstData(g_stage.folders))->handle);
    return 1;
}

int AdoptStage(const char *srcFolder, const char *root)
{
    return StartStage(srcFolder) && StrCopy(g_stage.root, sizeof(g_stage.root), root) && Remember("");
}

const char *StageRoot(void)
{
    return g_stage.root[0] ? g_stage.root : nullptr;
}

int StageFits(unsigned long long bytes, unsigned long long *freeBytes)
{
    ULARGE_INTEGER available, total, totalFree;
    *freeBytes = GetDiskFreeSpaceExA(g_stage.root, &available, &total, &totalFree) ? available.QuadPart : 0;
    return bytes <= *freeBytes;
}

int StageBytes(const char *name, const void *bytes, size_t size, HANDLE *held)
{
    char path[MAX_PATH_BYTES];
    if (!JoinPath(path, sizeof(path), g_stage.root, name))
        return 0;
    HANDLE copy = CreateCopy(path);
    if (copy == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    int whole = WriteFile(copy, bytes, (DWORD)size, &written, nullptr) && written == size && FlushFileBuffers(copy);
    if (!whole)
        SetDeletePending(copy, 1);
    CloseHandle(copy);
    if (!whole || !HoldCopy(path) || !Remember(name))
        return 0;
    *held = (HANDLE)PtrListLast(g_stage.files)->data;
    return 1;
}

int StageFile(const char *relative, HANDLE source, const unsigned char *sha256, unsigned long long size)
{
    char path[MAX_PATH_BYTES];
    if (IsStaged(relative))
        return 1;
    return MakeFolders(relative) && JoinPath(path, sizeof(path), g_stage.root, relative) &&
           CopyChecked(source, path, sha256, size) && HoldCopy(path) && Remember(relative);
}

int StagedPath(const char *path, char *staged, size_t size)
{
    size_t length = strlen(g_stage.src);
    if (!g_stage.names || length == 0 || _strnicmp(path, g_stage.src, length) != 0 || !IsStaged(path + length))
        return 0;
    return StrCopy(staged, size, g_stage.root) && StrAppend(staged, size, path + length);
}

namespace {

void LetGo(PtrList *handles)
{
    while (handles && !PtrListIsEmpty(handles)) {
        HANDLE handle = (HANDLE)PtrListPopFront(handles);
        SetDeletePending(handle, 1);
        CloseHandle(handle);
    }
    PtrListDestroy(handles);
}

} // namespace

void CloseStage(void)
{
    // The copies first: a folder goes only once it is empty.
    LetGo(g_stage.files);
    while (g_stage.folders && !PtrListIsEmpty(g_stage.folders))
        DeleteFolder((HeldFolder *)PtrListPopFront(g_stage.folders));
    PtrListDestroy(g_stage.folders);
    PtrListFreeStrings(g_stage.names);
    memset(&g_stage, 0, sizeof(g_stage));
}
