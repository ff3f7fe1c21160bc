#include "base/safefile.h"

#include "base/strutil.h"

#include <aclapi.h>

#include <string.h>

namespace {

enum { LONG_PATH_BYTES = 2 * MAX_PATH_BYTES };

// The final path as a plain drive or network path: the system writes it
// after "\\?\", and a network one as "\\?\UNC\server\...". Asked for in
// UTF-16, since the ANSI call stops at the old path limit on some systems.
const char *FinalPathOf(HANDLE file, char *buffer, size_t size)
{
    WCHAR wide[LONG_PATH_BYTES];
    DWORD len = GetFinalPathNameByHandleW(file, wide, LONG_PATH_BYTES, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (len == 0 || len >= LONG_PATH_BYTES ||
        !WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, (int)size, nullptr, nullptr))
        return nullptr;
    if (strncmp(buffer, "\\\\?\\UNC\\", 8) == 0) {
        buffer[6] = '\\';
        return buffer + 6;
    }
    return strncmp(buffer, "\\\\?\\", 4) == 0 ? buffer + 4 : buffer;
}

// The file's path within its volume ("\\folder\\name"): what Wine still
// gives where its final path would exceed the old path limit.
const char *VolumePathOf(HANDLE file, char *buffer, size_t size)
{
    union {
        FILE_NAME_INFO info;
        char bytes[sizeof(FILE_NAME_INFO) + LONG_PATH_BYTES * sizeof(WCHAR)];
    } name;
    if (!GetFileInformationByHandleEx(file, FileNameInfo, &name, sizeof(name) - sizeof(WCHAR)))
        return nullptr;
    int chars = (int)(name.info.FileNameLength / sizeof(WCHAR));
    int len = WideCharToMultiByte(CP_ACP, 0, name.info.FileName, chars, buffer, (int)size - 1, nullptr, nullptr);
    if (len <= 0)
        return nullptr;
    buffer[len] = '\0';
    return buffer;
}

// Where the path within its volume starts in a full path: after "X:".
const char *WithoutDrive(const char *path)
{
    return path[0] && path[1] == ':' ? path + 2 : nullptr;
}

// The full path of what path names, its folder in its long form.
int LongFormOf(const char *meant, char *out, size_t size)
{
    char folder[LONG_PATH_BYTES];
    if (!StrCopy(folder, sizeof(folder), meant))
        return 0;
    char *slash = MbsRChr(folder, '\\');
    if (!slash)
        return 0;
    *slash = '\0';
    DWORD len = GetLongPathNameA(folder, out, MAX_PATH_BYTES);
    return len > 0 && len < MAX_PATH_BYTES && StrAppend(out, size, "\\") && StrAppend(out, size, slash + 1);
}

enum { MAX_HOLDS = 4 };
const FolderHold *g_holds[MAX_HOLDS];
int g_holdCount;

int StartsWith(const char *path, const char *folder)
{
    char head[LONG_PATH_BYTES];
    size_t n = strlen(folder);
    if (n >= sizeof(head) || strlen(path) < n)
        return 0;
    memcpy(head, path, n);
    head[n] = '\0';
    return AsciiStricmp(head, folder) == 0;
}

// The held folder that path lies in, the innermost one; null when none.
const FolderHold *HoldOver(const char *path)
{
    const FolderHold *best = nullptr;
    for (int i = 0; i < g_holdCount; i++)
        if (StartsWith(path, g_holds[i]->meant) && (!best || strlen(g_holds[i]->meant) > strlen(best->meant)))
            best = g_holds[i];
    return best;
}

// The final path meant is expected to have: itself, or under a held folder
// the folder's final path and the rest of meant; in the form final has
// (inVolume: the path within the volume).
const char *ExpectedFinal(const char *meant, int inVolume, char *buffer, size_t size)
{
    const FolderHold *hold = HoldOver(meant);
    if (!hold)
        return inVolume ? WithoutDrive(meant) : meant;
    const char *base = hold->final;
    if (inVolume && !hold->inVolume)
        base = WithoutDrive(base);
    if (!base || (!inVolume && hold->inVolume) || !StrCopy(buffer, size, base) ||
        !StrAppend(buffer, size, meant + strlen(hold->meant)))
        return nullptr;
    return buffer;
}

// final names meant (or, for a path within the volume, meant's part of it).
int SamePath(const char *final, int inVolume, const char *meant)
{
    char buffer[LONG_PATH_BYTES];
    const char *expected = ExpectedFinal(meant, inVolume, buffer, sizeof(buffer));
    return expected && AsciiStricmp(final, expected) == 0;
}

// The handle's final path, or its path within the volume (*inVolume set).
const char *FinalOrVolumePath(HANDLE file, char *buffer, size_t size, int *inVolume)
{
    const char *final = FinalPathOf(file, buffer, size);
    *inVolume = !final;
    return final ? final : VolumePathOf(file, buffer, size);
}

// One name unless more are allowed, no reparse point, no folder.
int IsFileHandle(HANDLE file, int moreNames)
{
    FILE_STANDARD_INFO standard;
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)) ||
        !GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof(tag)))
        return 0;
    return (standard.NumberOfLinks == 1 || (moreNames && standard.NumberOfLinks > 1)) && !standard.Directory &&
           !(tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
}

int HandleIsAt(HANDLE file, const char *path)
{
    char finalBuffer[LONG_PATH_BYTES];
    char meant[LONG_PATH_BYTES];
    int inVolume = 0;
    const char *final = FinalOrVolumePath(file, finalBuffer, sizeof(finalBuffer), &inVolume);
    DWORD len = GetFullPathNameA(path, sizeof(meant), meant, nullptr);
    if (!final || len == 0 || len >= sizeof(meant))
        return 0;
    if (SamePath(final, inVolume, meant))
        return 1;
    // The path may have been given with a short folder (near the length
    // limit); the final path has every level in its long form.
    char longMeant[LONG_PATH_BYTES];
    return LongFormOf(meant, longMeant, sizeof(longMeant)) && SamePath(final, inVolume, longMeant);
}

HANDLE OpenChecked(const char *path, DWORD access, DWORD share, DWORD disposition, int moreNames)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    // A name that leads nowhere yet (a dangling link) would be created where
    // it leads: a file is only ever created new, where nothing is.
    for (int attempt = 0; attempt < 3 && file == INVALID_HANDLE_VALUE; attempt++) {
        DWORD now = disposition;
        if (disposition == OPEN_ALWAYS)
            now = attempt % 2 ? CREATE_NEW : OPEN_EXISTING;
        // The check below asks for the reparse tag, which Windows answers
        // only to a handle that may read attributes (GENERIC_WRITE or DELETE
        // alone may not; Wine does not enforce it).
        file = CreateFileA(path, access | FILE_READ_ATTRIBUTES, share, nullptr, now,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        DWORD error = GetLastError();
        if (file == INVALID_HANDLE_VALUE && (disposition != OPEN_ALWAYS ||
                                             (error != ERROR_FILE_NOT_FOUND && error != ERROR_FILE_EXISTS)))
            return file;
    }
    if (file == INVALID_HANDLE_VALUE || (IsFileHandle(file, moreNames) && HandleIsAt(file, path)))
        return file;
    CloseHandle(file);
    SetLastError(ERROR_CANT_RESOLVE_FILENAME);
    return INVALID_HANDLE_VALUE;
}

// The held folder's final path, ending with a backslash, into hold->final.
int TakeFinalPath(FolderHold *hold)
{
    FILE_STANDARD_INFO standard;
    if (hold->handle == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandleEx(hold->handle, FileStandardInfo, &standard, sizeof(standard)) ||
        !standard.Directory)
        return 0;
    char buffer[LONG_PATH_BYTES];
    const char *final = FinalOrVolumePath(hold->handle, buffer, sizeof(buffer), &hold->inVolume);
    return final && StrCopy(hold->final, sizeof(hold->final), final) &&
           AddBackslash(hold->final, sizeof(hold->final));
}

} // namespace

// One name, no reparse point, no folder. Two small questions: the full
// BY_HANDLE_FILE_INFORMATION also fetches the volume serial number, a round
// trip on some systems.
int IsPlainFileHandle(HANDLE file)
{
    return IsFileHandle(file, 0);
}

int IsHandleOfPath(HANDLE file, const char *path)
{
    return IsFileHandle(file, 0) && HandleIsAt(file, path);
}

int IsNameOfPath(HANDLE file, const char *path)
{
    return IsFileHandle(file, 1) && HandleIsAt(file, path);
}

int IsFolderHandleOfPath(HANDLE folder, const char *path)
{
    FILE_ATTRIBUTE_TAG_INFO tag;
    return GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &tag, sizeof(tag)) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           HandleIsAt(folder, path);
}

HANDLE OpenPlainFile(const char *path, DWORD access, DWORD share, DWORD disposition)
{
    return OpenChecked(path, access, share, disposition, 0);
}

HANDLE OpenNamedFile(const char *path, DWORD access, DWORD share)
{
    return OpenChecked(path, access, share, OPEN_EXISTING, 1);
}

int HoldFolder(FolderHold *hold, const char *folder)
{
    hold->handle = INVALID_HANDLE_VALUE;
    DWORD len = GetFullPathNameA(folder, sizeof(hold->meant), hold->meant, nullptr);
    if (len == 0 || len >= sizeof(hold->meant) || !AddBackslash(hold->meant, sizeof(hold->meant)) ||
        g_holdCount == MAX_HOLDS)
        return 0;
    // Reading access: a handle without any is no hold, whatever it shares.
    hold->handle = CreateFileA(folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    // Inside a held folder, a folder that leads elsewhere is a link inside it.
    if (!TakeFinalPath(hold) || (HoldOver(hold->meant) && !SamePath(hold->final, hold->inVolume, hold->meant))) {
        ReleaseFolder(hold);
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return 0;
    }
    g_holds[g_holdCount++] = hold;
    return 1;
}

void ReleaseFolder(FolderHold *hold)
{
    for (int i = 0; i < g_holdCount; i++) {
        if (g_holds[i] == hold) {
            g_holds[i] = g_holds[--g_holdCount];
            break;
        }
    }
    if (hold->handle != INVALID_HANDLE_VALUE)
        CloseHandle(hold->handle);
    hold->handle = INVALID_HANDLE_VALUE;
}

int OwnerOf(HANDLE file, void *sid, DWORD size)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return 0;
    int copied = owner && CopySid(size, sid, owner);
    LocalFree(descriptor);
    return copied;
}

int SetDeletePending(HANDLE file, int pending)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = pending ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) ? 1 : 0;
}

int RenameByHandle(HANDLE file, const char *path)
{
    union {
        FILE_RENAME_INFO info;
        char bytes[sizeof(FILE_RENAME_INFO) + LONG_PATH_BYTES * sizeof(WCHAR)];
    } rename;
    memset(&rename, 0, sizeof(rename));
    int chars = MultiByteToWideChar(CP_ACP, 0, path, -1, rename.info.FileName, LONG_PATH_BYTES);
    if (chars <= 1) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    rename.info.ReplaceIfExists = TRUE;
    rename.info.RootDirectory = nullptr;
    rename.info.FileNameLength = (DWORD)(chars - 1) * sizeof(WCHAR);
    return SetFileInformationByHandle(file, FileRenameInfo, &rename, sizeof(rename)) ? 1 : 0;
}

int DeletePlainFile(const char *path)
{
    HANDLE file = OpenNamedFile(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int done = SetDeletePending(file, 1);
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return done;
}
