#include "exec/settingswrite.h"

#include "base/safefile.h"
#include "base/strutil.h"
#include "exec/filereplace.h"
#include "exec/inplace.h"

#include <aclapi.h>
#include <stdlib.h>
#include <string.h>

namespace {

// A settings file beyond this is not the application's: it is left alone.
const DWORD MAX_SETTINGS_BYTES = 1u << 22;
const DWORD SHARE_READ_WRITE = FILE_SHARE_READ | FILE_SHARE_WRITE;
const SECURITY_INFORMATION SECURITY_CARRIED =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
// Attributes that go with the settings file when it is replaced.
const DWORD ATTRIBUTES_CARRIED = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                 FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

int ReadWhole(HANDLE handle, char *buffer, DWORD length)
{
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    DWORD got = 0;
    return SetFilePointerEx(handle, zero, nullptr, FILE_BEGIN) && ReadFile(handle, buffer, length, &got, nullptr) &&
           got == length;
}

// The bytes at the start of handle equal text (length bytes) and end there.
int HoldsText(HANDLE handle, const char *text, DWORD length)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size) || size.QuadPart != length)
        return 0;
    char *read = (char *)malloc(length + 1);
    int same = read && ReadWhole(handle, read, length) && memcmp(read, text, length) == 0;
    free(read);
    return same;
}

void ReleaseHold(SettingsFile *file)
{
    if (file->handle != INVALID_HANDLE_VALUE)
        CloseHandle(file->handle);
    file->handle = INVALID_HANDLE_VALUE;
}

// Makes this process able to give a file an owner other than itself, for
// as long as enable says: what the administrators may do, and need to, to
// keep the owner of a file they replace.
void AllowAnyOwner(int enable)
{
    HANDLE token = nullptr;
    TOKEN_PRIVILEGES privileges;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
        return;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

} // namespace

int CarrySecurity(HANDLE from, HANDLE to)
{
    PSID owner = nullptr, group = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(from, SE_FILE_OBJECT, SECURITY_CARRIED, &owner, &group, &dacl, nullptr, &descriptor) !=
        ERROR_SUCCESS)
        return 0;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    SECURITY_INFORMATION what = SECURITY_CARRIED | ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                                   : UNPROTECTED_DACL_SECURITY_INFORMATION);
    DWORD error = SetSecurityInfo(to, SE_FILE_OBJECT, what, owner, group, dacl, nullptr);
    if (error == ERROR_INVALID_OWNER) {
        AllowAnyOwner(1);
        error = SetSecurityInfo(to, SE_FILE_OBJECT, what, owner, group, dacl, nullptr);
        AllowAnyOwner(0);
    }
    LocalFree(descriptor);
    return error == ERROR_SUCCESS;
}

namespace {

// The replacement: 1 done, 0 failed (the file unchanged), -1 when only an
// in-place write can keep what the file is (its owner and permissions, or a
// program's hold on it).
int Replace(SettingsFile *file, const char *path, const char *text, DWORD length)
{
    NewFile temp;
    if (!NewFileBeside(&temp, path, WRITE_DAC | WRITE_OWNER))
        return GetLastError() == ERROR_ACCESS_DENIED ? -1 : 0;
    if (!NewFileWrite(&temp, text, length) || !HoldsText(temp.handle, text, length)) {
        DiscardNewFile(&temp);
        return 0;
    }
    if (file->handle != INVALID_HANDLE_VALUE && !CarrySecurity(file->handle, temp.handle)) {
        DiscardNewFile(&temp);
        return -1;
    }
    // The rename cannot replace a file this process itself holds.
    ReleaseHold(file);
    if (CommitNewFile(&temp, path, nullptr, file->attributes & ATTRIBUTES_CARRIED))
        return 1;
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? -1 : 0;
}

// The text written over the file's own bytes, through a handle that holds
// it, only while the file still holds what was read and has no other name.
int WriteInPlace(const SettingsFile *read, const char *path, const char *text, DWORD length)
{
    HANDLE handle = OpenPlainFile(path, GENERIC_READ | GENERIC_WRITE, SHARE_READ_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    NewFile staged;
    staged.handle = INVALID_HANDLE_VALUE;
    int done = HoldsText(handle, read->text, read->length) && StageTextFor(handle, path, text, length, &staged) &&
               OverwriteSurely(handle, path, &staged, nullptr, nullptr);
    DiscardNewFile(&staged);
    if (!done && GetLastError() == ERROR_SUCCESS)
        SetLastError(ERROR_SHARING_VIOLATION);
    DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
    return done;
}

} // namespace

int ReadSettingsFile(SettingsFile *file, const char *path)
{
    file->text = nullptr;
    file->length = 0;
    file->attributes = 0;
    file->handle = OpenNamedFile(path, GENERIC_READ | READ_CONTROL, SHARE_READ_WRITE);
    if (file->handle == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            return 0;
        file->text = (char *)malloc(1);
        if (!file->text)
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return file->text != nullptr;
    }
    FILE_BASIC_INFO basic;
    LARGE_INTEGER size;
    if (!GetFileInformationByHandleEx(file->handle, FileBasicInfo, &basic, sizeof(basic)) ||
        !GetFileSizeEx(file->handle, &size))
        return 0;
    file->attributes = basic.FileAttributes;
    if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (size.QuadPart > MAX_SETTINGS_BYTES) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return 0;
    }
    file->length = (DWORD)size.QuadPart;
    file->text = (char *)malloc(file->length + 1);
    if (!file->text || !ReadWhole(file->handle, file->text, file->length))
        return 0;
    file->text[file->length] = '\0';
    return 1;
}

int WriteSettingsFile(SettingsFile *file, const char *path, const char *text, DWORD length)
{
    int replaced = Replace(file, path, text, length);
    if (replaced >= 0)
        return replaced;
    return WriteInPlace(file, path, text, length);
}

void CloseSettingsFile(SettingsFile *file)
{
    ReleaseHold(file);
    free(file->text);
    file->text = nullptr;
}
