// TEMPORARY: see atomicshim.h.
#define _CRT_RAND_S
#include "exec/atomicshim.h"

#include "base/safefile.h"
#include "base/tracelog.h"
#include "exec/atomic.h"
#include "exec/historytext.h"
#include "exec/profiletext.h"
#include "exec/settingswrite.h"

#include <aclapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace {
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD CHUNK = 1u << 20;

int Draw(char *temp, size_t size, const char *path, LeftoverKind kind)
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
    return JoinPath(temp, size, folder, name);
}

int MakePrivate(HANDLE file)
{
    char adminsSid[SECURITY_MAX_SID_SIZE], systemSid[SECURITY_MAX_SID_SIZE];
    DWORD a = sizeof(adminsSid), s = sizeof(systemSid);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminsSid, &a) ||
        !CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &s))
        return 0;
    char aclBytes[512];
    PACL acl = (PACL)aclBytes;
    if (!InitializeAcl(acl, sizeof(aclBytes), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, adminsSid) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, systemSid))
        return 0;
    return SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
}

int CopyHandle(HANDLE source, NewFile *file, LPPROGRESS_ROUTINE routine, void *data)
{
    char *chunk = (char *)malloc(CHUNK);
    if (!chunk)
        return 0;
    int ok = 1;
    LARGE_INTEGER total, done;
    total.QuadPart = done.QuadPart = 0;
    GetFileSizeEx(source, &total);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source, chunk, CHUNK, &got, nullptr)) {
            ok = 0;
            break;
        }
        if (got == 0 || !(ok = NewFileWrite(file, chunk, got)))
            break;
        done.QuadPart += got;
        if (routine)
            routine(total, done, total, done, 1, CALLBACK_CHUNK_FINISHED, source, file->handle, data);
    }
    DWORD e = GetLastError();
    free(chunk);
    SetLastError(e);
    return ok;
}

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
} // namespace

int OverwriteInPlace(HANDLE target, const NewBytes *from, LPPROGRESS_ROUTINE, void *)
{
    LARGE_INTEGER zero, size;
    zero.QuadPart = 0;
    char *buf = (char *)malloc((size_t)from->size + 1);
    DWORD got = 0, written = 0;
    LARGE_INTEGER at;
    at.QuadPart = 0;
    int ok = buf && SetFilePointerEx(from->file, zero, nullptr, FILE_BEGIN) &&
             ReadFile(from->file, buf, (DWORD)from->size, &got, nullptr) && got == from->size &&
             SetFilePointerEx(target, at, nullptr, FILE_BEGIN) && WriteFile(target, buf, got, &written, nullptr) &&
             written == got;
    size.QuadPart = (LONGLONG)from->size;
    ok = ok && SetFilePointerEx(target, size, nullptr, FILE_BEGIN) && SetEndOfFile(target) && FlushFileBuffers(target);
    free(buf);
    return ok;
}

int NewFileOfKind(NewFile *file, const char *path, DWORD extraAccess, LeftoverKind kind, int isPrivate)
{
    file->handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 8; attempt++) {
        if (!Draw(file->path, sizeof(file->path), path, kind)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        HANDLE h = CreateFileA(file->path, GENERIC_READ | GENERIC_WRITE | DELETE | extraAccess | (isPrivate ? WRITE_DAC : 0), 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return 0;
        }
        if (SetDeletePending(h, 1) && IsHandleOfPath(h, file->path) && (!isPrivate || MakePrivate(h))) {
            file->handle = h;
            return 1;
        }
        SetDeletePending(h, 1);
        CloseHandle(h);
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return 0;
    }
    return 0;
}

DWORD ReplaceError(const char *dst)
{
    DWORD outcome = DeleteOutcome(dst);
    if (outcome == 0 || outcome == ERROR_FILE_NOT_FOUND || outcome == ERROR_PATH_NOT_FOUND)
        return 0;
    return outcome;
}

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

HANDLE OpenForInPlace(const char *dst)
{
    DWORD attrs = GetFileAttributesA(dst);
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return INVALID_HANDLE_VALUE;
    return OpenPlainFile(dst, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
}

int IsOwnFile(HANDLE file, const char *folder)
{
    char sid[SECURITY_MAX_SID_SIZE];
    const void *ours = OurOwner(folder);
    return ours && OwnerOf(file, sid, sizeof(sid)) && EqualSid(sid, (PSID)ours);
}

int StageCopy(const char *src, const char *beside, const FILETIME *write, LPPROGRESS_ROUTINE routine, void *data,
              NewFile *file, DWORD *carried, int isPrivate)
{
    HANDLE source = CreateFileA(src, GENERIC_READ, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE)
        return 0;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(source, FileBasicInfo, &basic, sizeof(basic)))
        basic.FileAttributes = 0;
    *carried = basic.FileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    int ok = NewFileOfKind(file, beside, 0, LEFTOVER_NEW, isPrivate) && CopyHandle(source, file, routine, data) &&
             SealNewFile(file, write);
    DWORD e = GetLastError();
    CloseHandle(source);
    if (!ok)
        DiscardNewFile(file);
    SetLastError(e);
    return ok;
}

int StageCopyFrom(HANDLE source, const char *beside, NewFile *file, int isPrivate)
{
    int ok = NewFileOfKind(file, beside, 0, LEFTOVER_NEW, isPrivate) && CopyHandle(source, file, nullptr, nullptr);
    if (!ok)
        DiscardNewFile(file);
    return ok;
}

int GiveBasicInfo(HANDLE file, const FILE_BASIC_INFO *basic)
{
    FILE_BASIC_INFO copy = *basic;
    copy.ChangeTime.QuadPart = 0;
    return SetFileInformationByHandle(file, FileBasicInfo, &copy, sizeof(copy));
}

int WriteCopyOver(HANDLE target, HANDLE copy)
{
    LARGE_INTEGER size;
    FILE_BASIC_INFO basic;
    if (!GetFileSizeEx(copy, &size) || !GetFileInformationByHandleEx(copy, FileBasicInfo, &basic, sizeof(basic)))
        return 0;
    NewBytes from;
    from.file = copy;
    from.bytes = nullptr;
    from.size = (unsigned long long)size.QuadPart;
    return OverwriteInPlace(target, &from, nullptr, nullptr) && GiveBasicInfo(target, &basic) &&
           FlushFileBuffers(target);
}

int StageTextFor(HANDLE target, const char *path, const char *text, unsigned long length, NewFile *staged)
{
    FILE_BASIC_INFO basic;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (!GetFileInformationByHandleEx(target, FileBasicInfo, &basic, sizeof(basic)) ||
        !NewFileOfKind(staged, path, 0, LEFTOVER_NEW, 1) || !NewFileWrite(staged, text, length))
        return 0;
    basic.LastWriteTime.LowPart = now.dwLowDateTime;
    basic.LastWriteTime.HighPart = (LONG)now.dwHighDateTime;
    return GiveBasicInfo(staged->handle, &basic) && FlushFileBuffers(staged->handle);
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
        DWORD e = GetLastError();
        SetDeletePending(file->handle, 1);
        SetLastError(e);
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

HANDLE OpenNamedFile(const char *path, DWORD access, DWORD share)
{
    return OpenPlainFile(path, access, share, OPEN_EXISTING);
}

int CarrySecurity(HANDLE, HANDLE)
{
    return 1;
}

int LogPrepared(AtomicUpdate *update, const char *folder, const char *comment, const char *id)
{
    (void)folder;
    TracePrintf("\t\t[%s]>>\n", "Log");
    char line[600];
    time_t t = time(nullptr);
    struct tm *now = localtime(&t);
    char *copy = StrDup(comment);
    char *first, *second;
    SplitComment(copy, &first, &second);
    int n = snprintf(line, sizeof(line), "%4d%02d%02d\t%s\t%s\t%s\r\n", now->tm_year + 1900, now->tm_mon + 1, now->tm_mday,
                     id ? id : "(null)", first, second);
    free(copy);
    int ok = PrepareHistoryLine(update, line, (size_t)n);
    TracePrintf("\t\tbResult = %d\n", ok);
    TracePrintf("\t\t[%s]<<\n", "Log");
    return ok;
}

int PrepareInstalledId(AtomicUpdate *update, const char *folder, const char *id)
{
    char iniPath[MAX_PATH_BYTES];
    SettingsFile file;
    if (!JoinPath(iniPath, sizeof(iniPath), folder, "MIRO42.INI") || !ReadSettingsFile(&file, iniPath)) {
        CloseSettingsFile(&file);
        return 0;
    }
    size_t at = 0, len = 0;
    if (!ProfileFindValue(file.text, file.length, "MAIN", "INSTALLED", &at, &len))
        len = 0;
    char *old = (char *)malloc(len + 1);
    memcpy(old, file.text + at, len);
    old[len] = 0;
    char *merged = MergeInstalledIds(old, id);
    size_t length = 0;
    char *text = ProfileSetValue(file.text, file.length, "MAIN", "INSTALLED", merged, &length);
    CloseSettingsFile(&file);
    int ok = text && PrepareSettings(update, iniPath, text, (unsigned long)length);
    free(old);
    free(merged);
    free(text);
    return ok;
}
