#include "exec/filecmd_keep.h"

#include <windows.h>

namespace {

int CanBeKept(const char *dst)
{
    DWORD attrs = GetFileAttributesA(dst);
    if (attrs == INVALID_FILE_ATTRIBUTES ||
        (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return 0;
    // Opening for deletion fails exactly when another handle forbids it; then
    // the deletion of dst fails too and a second name could not be removed.
    HANDLE probe = CreateFileA(dst, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(probe);
    return 1;
}

} // namespace

void KeepOldFile(KeptFile *kept, const char *dst)
{
    kept->held = 0;
    kept->path[0] = '\0';
    if (!CanBeKept(dst))
        return;
    for (unsigned attempt = 0; attempt < 16; attempt++) {
        char suffix[32];
        wsprintfA(suffix, ".~lu%lX-%u", GetCurrentProcessId(), attempt);
        if (!StrCopy(kept->path, sizeof(kept->path), dst) ||
            !StrAppend(kept->path, sizeof(kept->path), suffix))
            return;
        if (CreateHardLinkA(kept->path, dst, nullptr)) {
            kept->held = 1;
            return;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return;
    }
}

void DropKeptFile(KeptFile *kept)
{
    if (!kept->held)
        return;
    kept->held = 0;
    if (!DeleteFileA(kept->path))
        MoveFileExA(kept->path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void RestoreKeptFile(KeptFile *kept, const char *dst)
{
    if (!kept->held)
        return;
    kept->held = 0;
    // A failed copy may leave a partial file behind (a restartable copy keeps
    // it on purpose); the old file takes its place.
    DeleteFileA(dst);
    MoveFileExA(kept->path, dst, MOVEFILE_REPLACE_EXISTING);
}
