#include "exec/filecmd.h"

#include "base/tracelog.h"
#include "exec/filecmd_keep.h"

namespace {

// The Abort/Retry/Ignore question about the last error. A box that cannot
// be shown gives none of the three answers, and the caller fails then.
int AskAboutFailure(HWND dialog)
{
    char *text = GetLastErrorText();
    int answer = MessageBoxA(dialog, text, nullptr, MB_ICONWARNING | MB_ABORTRETRYIGNORE);
    LocalFree(text);
    return answer;
}

// Only the trace reads this.
void TraceLastWriteTime(const FILETIME *write)
{
    FILETIME local;
    SYSTEMTIME st;
    TracePrintf("\n\t\t\t\tFileTimeToLocalFileTime().\n");
    if (!FileTimeToLocalFileTime(write, &local)) {
        TracePrintf("\t\t\t\t\tFailed.\n");
        return;
    }
    TracePrintf("\t\t\t\t\tSucceed.\n");
    TracePrintf("\n\t\t\t\t\tFileTimeToSytemTime().\n");
    if (!FileTimeToSystemTime(&local, &st)) {
        TracePrintf("\t\t\t\t\t\tFailed.\n");
        return;
    }
    TracePrintf("\t\t\t\t\t\tSucceed.\n");
    TracePrintf("\t\t\t\t\t\tLastWriteTime: %d/%02u/%02d-%02u:%02u:%02u\n", (int)st.wYear,
                (unsigned)st.wMonth, (int)st.wDay, (unsigned)st.wHour, (unsigned)st.wMinute,
                (unsigned)st.wSecond);
}

// A destination that does not exist yet is the ordinary case: the failure
// only goes to the trace. The old file stays kept until the copy is done.
// 1 when nothing of the installed copy is left at dst (deleted, or never
// there): whatever a failed copy leaves there afterwards is its own.
int DeleteOldFile(const char *dst, KeptFile *kept)
{
    KeepOldFile(kept, dst);
    if (DeleteFileA(dst)) {
        TracePrintf("\t\t\t\tDelete   dst\n");
        return 1;
    }
    DWORD error = GetLastError();
    char *text = GetLastErrorText();
    TracePrintf("\t\t\t\tDelete Fail - %s ", text);
    LocalFree(text);
    DropKeptFile(kept);
    return error == ERROR_FILE_NOT_FOUND;
}

int IsDiskFull(DWORD error)
{
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

unsigned long long FileSize(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return 0;
    return ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

// Giving up the kept old file is worth it only when its room, with what is
// free, holds the new file; otherwise the old file would be lost for nothing.
int KeptFileMakesRoom(const char *src, const char *dst, const KeptFile *kept)
{
    char folder[MAX_PATH_BYTES];
    if (!StrCopy(folder, sizeof(folder), dst))
        return 0;
    char *slash = MbsRChr(folder, '\\');
    if (!slash)
        return 0;
    slash[1] = '\0';
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr))
        return 0;
    return available.QuadPart + FileSize(kept->path) >= FileSize(src);
}

int CopyAsked(const char *src, const char *dst, const FILETIME *write, HWND dialog)
{
    KeptFile kept;
    int cleared = DeleteOldFile(dst, &kept);
    for (;;) {
        BOOL cancel = FALSE;
        if (CopyFileExA(src, dst, CopyProgressRoutine, &dialog, &cancel, COPY_FILE_RESTARTABLE)) {
            TracePrintf("\t\t\t\tCopy\tsrc -> dst\n");
            SetFileTimeByFilename(dst, write, nullptr, write);
            DropKeptFile(&kept);
            return 1;
        }
        DWORD error = GetLastError();
        if (kept.held && IsDiskFull(error) && KeptFileMakesRoom(src, dst, &kept)) {
            // The room that the old file frees was counted on: give it up
            // and try once more before asking.
            DeleteFileA(dst);
            DropKeptFile(&kept);
            continue;
        }
        SetLastError(error);
        int answer = AskAboutFailure(dialog);
        if (answer == IDRETRY)
            continue;
        // What the failed copy left is no installed file (a restartable
        // copy keeps its part on purpose, and Wine leaves one on a full disk).
        if (cleared && !kept.held)
            DeleteFileA(dst);
        RestoreKeptFile(&kept, dst);
        return answer == IDIGNORE ? 1 : 0;
    }
}

} // namespace

DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER total, LARGE_INTEGER transferred,
                                   LARGE_INTEGER streamSize, LARGE_INTEGER streamTransferred,
                                   DWORD stream, DWORD reason, HANDLE source, HANDLE destination,
                                   LPVOID data)
{
    (void)total;
    (void)transferred;
    (void)streamSize;
    (void)streamTransferred;
    (void)stream;
    (void)reason;
    (void)source;
    (void)destination;
    MSG msg;
    if (PeekMessageA(&msg, *(HWND *)data, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return PROGRESS_CONTINUE;
}

int Copy(const char *src, const char *dst, HWND dialog)
{
    TracePrintf("\t\t[%s]>>\n", "Copy");
    TracePrintf("\t\t\tsrc = %s\n", src);
    TracePrintf("\t\t\tdst = %s\n", dst);
    int result = 0;
    FILETIME write;
    if (GetFileTimeByFilename(src, nullptr, nullptr, &write)) {
        TraceLastWriteTime(&write);
        result = CopyAsked(src, dst, &write, dialog);
    }
    TracePrintf("\t\tbResult = %d\n", result);
    TracePrintf("\t\t[%s]<<\n", "Copy");
    return result;
}

int Delete(const char *path, HWND dialog)
{
    TracePrintf("\t\t[%s]>>\n", "Delete");
    TracePrintf("\t\t\t%s\n", path);
    int result = 1;
    while (!DeleteFileA(path)) {
        int answer = AskAboutFailure(dialog);
        if (answer != IDRETRY) {
            result = answer == IDIGNORE ? 1 : 0;
            break;
        }
    }
    TracePrintf("\t\tbResult = %d\n", result);
    TracePrintf("\t\t[%s]<<\n", "Delete");
    return result;
}

int Create(const char *path)
{
    TracePrintf("\t\t[%s]>>\n", "Create");
    TracePrintf("\t\t\tDname = %s\n", path);
    TracePrintf("\n\t\t\tCreateDirectory.\n");
    int result = 1;
    if (CreateDirectoryA(path, nullptr)) {
        TracePrintf("\t\t\t\tSucceed.\n");
    } else {
        DWORD error = GetLastError();
        TracePrintf("\t\t\t\tFailed. GetLastError() = %d\n", (int)error);
        SetLastError(error);  // the trace may have touched it
        char *text = GetLastErrorText();
        TracePrintf("\t\t\t\t%s.\n", text);
        LocalFree(text);
        result = error == ERROR_ALREADY_EXISTS ? 1 : 0;
    }
    TracePrintf("\t\tbResult = %d\n", result);
    TracePrintf("\t\t[%s]<<\n", "Create");
    return result;
}
