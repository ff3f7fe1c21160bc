#define _CRT_RAND_S
#include "exec/filereplace.h"

#include "base/safefile.h"
#include "base/tracelog.h"
#include "exec/copysource.h"
#include "exec/inplace.h"
#include "exec/leftover.h"

#include <aclapi.h>
#include <stdlib.h>
#include <string.h>

namespace {

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Big enough that a copy costs what the system's own copy costs.
const DWORD COPY_CHUNK = 1u << 20;
// Names drawn before the creation is given up (each one fails only when
// something already is at that name).
const int NAME_ATTEMPTS = 8;

DWORD OpenError(const char *path, DWORD access, DWORD share)
{
    HANDLE handle = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(handle);
    return 0;
}

// A program image starts with "MZ".
int LooksLikeModule(const char *path)
{
    HANDLE handle = CreateFileA(path, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    char magic[2] = {0, 0};
    DWORD got = 0;
    int image = ReadFile(handle, magic, sizeof(magic), &got, nullptr) && got == 2 && magic[0] == 'M' && magic[1] == 'Z';
    CloseHandle(handle);
    return image;
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

} // namespace

DWORD ReplaceError(const char *dst)
{
    DWORD outcome = DeleteOutcome(dst);
    if (outcome == 0 || outcome == ERROR_FILE_NOT_FOUND || outcome == ERROR_PATH_NOT_FOUND)
        return 0;
    DWORD overwrite = OverwriteError(dst);
    return overwrite ? overwrite : outcome;
}

HANDLE OpenForInPlace(const char *dst)
{
    DWORD attrs = GetFileAttributesA(dst);
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return INVALID_HANDLE_VALUE;
    return OpenPlainFile(dst, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
}

namespace {

// What refuses a rename over a file another program holds.
int IsHeldError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// The leftover path for a new file at path, with a name drawn afresh; near
// the length limit in the folder's short form. 0 when no such path fits.
int DrawLeftoverPath(char *temp, size_t size, const char *path, LeftoverKind kind)
{
    char folder[MAX_PATH_BYTES];
    char name[LEFTOVER_NAME_BYTES];
    unsigned int high = 0, low = 0;
    if (!StrCopy(folder, sizeof(folder), path) || rand_s(&high) != 0 || rand_s(&low) != 0)
        return 0;
    char *slash = MbsRChr(folder, '\\');
    if (!slash)
        return 0;
    slash[1] = '\0';
    LeftoverNameOf(name, high, low, kind);
    if (JoinPath(temp, size, folder, name))
        return 1;
    char shortFolder[MAX_PATH_BYTES];
    DWORD len = GetShortPathNameA(folder, shortFolder, sizeof(shortFolder));
    return len > 0 && len < sizeof(shortFolder) && JoinPath(temp, size, shortFolder, name);
}

// Only the administrators and the system may open the file: what the next
// run reads back (a journal, the copies it names) stays as written.
int MakePrivate(HANDLE file)
{
    char admins[SECURITY_MAX_SID_SIZE], system[SECURITY_MAX_SID_SIZE];
    DWORD adminsSize = sizeof(admins), systemSize = sizeof(system);
    char bytes[256];
    PACL acl = (PACL)bytes;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize) ||
        !CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize) ||
        !InitializeAcl(acl, sizeof(bytes), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, admins) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system))
        return 0;
    return SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
}

// A new file at temp, or INVALID_HANDLE_VALUE. Created new, so a link or
// anything else at the name makes it fail; created where it was meant, so a
// folder on the way that leads elsewhere makes it go again at once.
HANDLE CreateAt(const char *temp, DWORD extraAccess, int isPrivate)
{
    DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE | extraAccess | (isPrivate ? WRITE_DAC : 0);
    HANDLE handle = CreateFileA(temp, access, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return handle;
    if (SetDeletePending(handle, 1) && IsHandleOfPath(handle, temp) && (!isPrivate || MakePrivate(handle)))
        return handle;
    SetDeletePending(handle, 1);
    CloseHandle(handle);
    SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return INVALID_HANDLE_VALUE;
}

} // namespace

int RenameWaiting(HANDLE handle, const char *path)
{
    for (int attempt = 0;; attempt++) {
        if (RenameByHandle(handle, path))
            return 1;
        if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == 20)
            return 0;
        Sleep(50);
    }
}

namespace {

// Copies the open source into the new file, reporting each chunk.
int CopyData(HANDLE source, NewFile *file, LPPROGRESS_ROUTINE routine, void *data)
{
    char *chunk = (char *)malloc(COPY_CHUNK);
    if (!chunk) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    LARGE_INTEGER total, done, zero;
    total.QuadPart = done.QuadPart = zero.QuadPart = 0;
    GetFileSizeEx(source, &total);
    int ok = 1;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source, chunk, COPY_CHUNK, &got, nullptr)) {
            ok = 0;
            break;
        }
        if (got == 0 || !(ok = NewFileWrite(file, chunk, got)))
            break;
        done.QuadPart += got;
        if (routine)
            routine(total, done, total, done, 1, CALLBACK_CHUNK_FINISHED, source, file->handle, data);
    }
    DWORD error = GetLastError();
    free(chunk);
    SetLastError(error);
    return ok;
}

// The owner this process gives the files it creates, found once by making
// one (an elevated run's files belong to the administrators, which no
// ordinary user can make a file of theirs belong to).
const void *OurOwner(const char *folder)
{
    static char sid[SECURITY_MAX_SID_SIZE];
    static int known;
    char path[MAX_PATH_BYTES];
    NewFile probe;
    if (!known && JoinPath(path, sizeof(path), folder, "x") && NewFileBeside(&probe, path, READ_CONTROL)) {
        known = OwnerOf(probe.handle, sid, sizeof(sid));
        DiscardNewFile(&probe);
    }
    return known ? sid : nullptr;
}

void ClearFound(const char *folder, const char *name)
{
    char path[MAX_PATH_BYTES];
    if (!IsLeftoverName(name) || !JoinPath(path, sizeof(path), folder, name))
        return;
    // Without sharing: a file a live updater still holds cannot be opened.
    HANDLE handle = OpenPlainFile(path, DELETE | READ_CONTROL, 0, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    if (IsOwnFile(handle, folder) && SetDeletePending(handle, 1))
        TracePrintf("\t\tleftover removed - %s\n", path);
    CloseHandle(handle);
}

} // namespace

int IsOwnFile(HANDLE file, const char *folder)
{
    char sid[SECURITY_MAX_SID_SIZE];
    const void *ours = OurOwner(folder);
    return ours && OwnerOf(file, sid, sizeof(sid)) && EqualSid(sid, (PSID)ours);
}

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
    // Open for deletion but not for writing: a mapped program image refuses
    // its deletion; a file another program holds sharing deletion but not
    // writing does not.
    if (OpenError(path, GENERIC_WRITE, SHARE_ALL) == ERROR_SHARING_VIOLATION && LooksLikeModule(path))
        return ERROR_ACCESS_DENIED;
    return 0;
}

int NewFileBeside(NewFile *file, const char *path, DWORD extraAccess)
{
    return NewFileOfKind(file, path, extraAccess, LEFTOVER_NEW, 0);
}

int NewFileOfKind(NewFile *file, const char *path, DWORD extraAccess, LeftoverKind kind, int isPrivate)
{
    file->handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < NAME_ATTEMPTS; attempt++) {
        if (!DrawLeftoverPath(file->path, sizeof(file->path), path, kind)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        file->handle = CreateAt(file->path, extraAccess, isPrivate);
        if (file->handle != INVALID_HANDLE_VALUE)
            return 1;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return 0;
    }
    return 0;
}

int NewFileWrite(NewFile *file, const void *data, DWORD size)
{
    DWORD written = 0;
    if (!WriteFile(file->handle, data, size, &written, nullptr))
        return 0;
    if (written == size)
        return 1;
    SetLastError(ERROR_DISK_FULL);
    return 0;
}

int SealNewFile(NewFile *file, const FILETIME *write)
{
    return (!write || SetFileTime(file->handle, write, nullptr, write)) && FlushFileBuffers(file->handle);
}

int RenameNewFile(NewFile *file, const char *path, DWORD attributes)
{
    if (!SetDeletePending(file->handle, 0))
        return 0;
    if (!IsHandleOfPath(file->handle, file->path) || !RenameWaiting(file->handle, path)) {
        DWORD error = GetLastError();
        SetDeletePending(file->handle, 1);
        SetLastError(error);
        return 0;
    }
    if (attributes) {
        FILE_BASIC_INFO basic;
        memset(&basic, 0, sizeof(basic));
        basic.FileAttributes = attributes;
        SetFileInformationByHandle(file->handle, FileBasicInfo, &basic, sizeof(basic));
    }
    CloseHandle(file->handle);
    file->handle = INVALID_HANDLE_VALUE;
    return 1;
}

int CommitNewFile(NewFile *file, const char *path, const FILETIME *write, DWORD attributes)
{
    if (SealNewFile(file, write) && RenameNewFile(file, path, attributes))
        return 1;
    DiscardNewFile(file);
    return 0;
}

int WriteWholeFile(const char *path, const void *bytes, DWORD size)
{
    char full[MAX_PATH_BYTES];
    DWORD n = GetFullPathNameA(path, sizeof(full), full, nullptr);
    NewFile file;
    if (n == 0 || n >= sizeof(full) || !NewFileBeside(&file, full, 0))
        return 0;
    if (NewFileWrite(&file, bytes, size))
        return CommitNewFile(&file, full, nullptr, 0);
    DiscardNewFile(&file);
    return 0;
}

void DiscardNewFile(NewFile *file)
{
    if (file->handle == INVALID_HANDLE_VALUE)
        return;
    DWORD error = GetLastError();
    SetDeletePending(file->handle, 1);
    CloseHandle(file->handle);
    file->handle = INVALID_HANDLE_VALUE;
    SetLastError(error);
}

namespace {

// The copy written over the held file dst's own bytes, from the new file
// (already on disk), with its times and attributes: the new file carries
// them and becomes private, for the journal that lets the next run finish a
// write cut short.
int CopyInPlace(HANDLE target, const char *dst, NewFile *file, const FILETIME *write, DWORD attributes,
                LPPROGRESS_ROUTINE routine, void *data)
{
    FILE_BASIC_INFO basic;
    memset(&basic, 0, sizeof(basic));
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    if (write) {
        basic.CreationTime.LowPart = basic.LastWriteTime.LowPart = write->dwLowDateTime;
        basic.CreationTime.HighPart = basic.LastWriteTime.HighPart = (LONG)write->dwHighDateTime;
    }
    return GiveBasicInfo(file->handle, &basic) && MakePrivate(file->handle) &&
           OverwriteSurely(target, dst, file, routine, data);
}

// The new file renamed over dst; where a program holds dst so that it cannot
// be replaced but lets it be written, written over it in place. target is
// dst already opened for that by the caller, or INVALID_HANDLE_VALUE.
int PutInPlace(NewFile *file, const char *dst, HANDLE target, const FILETIME *write, DWORD attributes,
               LPPROGRESS_ROUTINE routine, void *data)
{
    if (target != INVALID_HANDLE_VALUE)
        return CopyInPlace(target, dst, file, write, attributes, routine, data);
    if (RenameNewFile(file, dst, attributes))
        return 1;
    DWORD error = GetLastError();
    HANDLE held = IsHeldError(error) ? OpenForInPlace(dst) : INVALID_HANDLE_VALUE;
    if (held == INVALID_HANDLE_VALUE) {
        // Whatever came between the check and the rename, say what refuses it.
        DWORD now = ReplaceError(dst);
        SetLastError(now ? now : error);
        return 0;
    }
    int done = CopyInPlace(held, dst, file, write, attributes, routine, data);
    error = GetLastError();
    CloseHandle(held);
    SetLastError(error);
    return done;
}

} // namespace

int ReplaceByCopy(const char *src, const char *dst, const FILETIME *write, LPPROGRESS_ROUTINE routine,
                  void *data)
{
    DWORD blocked = ReplaceError(dst);
    HANDLE target = blocked ? OpenForInPlace(dst) : INVALID_HANDLE_VALUE;
    if (blocked && target == INVALID_HANDLE_VALUE) {
        SetLastError(blocked);
        return 0;
    }
    NewFile file;
    DWORD carried = 0;
    // The new bytes are whole on disk beside dst before anything of it changes,
    // also where they are then written over it in place.
    int done = StageCopy(src, dst, write, routine, data, &file, &carried, 0) &&
               PutInPlace(&file, dst, target, write, carried, routine, data);
    DWORD error = GetLastError();
    if (target != INVALID_HANDLE_VALUE)
        CloseHandle(target);
    DiscardNewFile(&file);
    SetLastError(error);
    return done;
}

int StageCopy(const char *src, const char *beside, const FILETIME *write, LPPROGRESS_ROUTINE routine, void *data,
              NewFile *file, DWORD *carried, int isPrivate)
{
    file->handle = INVALID_HANDLE_VALUE;
    // A checked package's source is read through the handle it was checked by.
    HANDLE source = OpenCopySource(src, SHARE_ALL, FILE_FLAG_SEQUENTIAL_SCAN);
    if (source == INVALID_HANDLE_VALUE)
        return 0;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(source, FileBasicInfo, &basic, sizeof(basic)))
        basic.FileAttributes = 0;
    // Only what a copy carries over; the rest is the system's to set.
    *carried = basic.FileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    // Able to be made private later: a write in place may need it so.
    int staged = NewFileOfKind(file, beside, WRITE_DAC, LEFTOVER_NEW, isPrivate) &&
                 CopyData(source, file, routine, data) && SealNewFile(file, write);
    DWORD error = GetLastError();
    CloseHandle(source);
    if (!staged)
        DiscardNewFile(file);
    SetLastError(error);
    return staged;
}

int StageCopyFrom(HANDLE source, const char *beside, NewFile *file, int isPrivate)
{
    if (NewFileOfKind(file, beside, 0, LEFTOVER_NEW, isPrivate) && CopyData(source, file, nullptr, nullptr))
        return 1;
    DiscardNewFile(file);
    return 0;
}

void ClearLeftovers(const char *folder)
{
    char pattern[MAX_PATH_BYTES];
    if (!JoinPath(pattern, sizeof(pattern), folder, "~lu*.tmp"))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            ClearFound(folder, found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
