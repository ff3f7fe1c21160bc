#include "exec/filecmd.h"

#include "base/runrecord.h"
#include "base/safefile.h"
#include "base/tracelog.h"
#include "base/userbox.h"
#include "exec/atomic.h"
#include "exec/filereplace.h"

namespace {

// The Abort/Retry/Ignore question about the last error. A box that cannot
// be shown gives none of the three answers, and the caller fails then.
int AskAboutFailure(HWND dialog)
{
    DWORD error = GetLastError();
    char *text = GetLastErrorText();
    int answer = UserBox(dialog, text, nullptr, MB_ICONWARNING | MB_ABORTRETRYIGNORE);
    LocalFree(text);
    RecordError(answer == IDRETRY ? 0 : error);
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

// The trace tells what deleting the old file gives, as it always has; the
// old file itself stays under its name until the new one replaces it whole.
// A destination that does not exist yet is the ordinary case.
void TraceDeleteOutcome(const char *dst)
{
    DWORD error = DeleteOutcome(dst);
    if (!error) {
        TracePrintf("\t\t\t\tDelete   dst\n");
        return;
    }
    SetLastError(error);
    char *text = GetLastErrorText();
    TracePrintf("\t\t\t\tDelete Fail - %s ", text);
    LocalFree(text);
}

// What a command does to the file system: made at once (update null) or
// prepared in an update made all or nothing. 1, or 0 with the last error.
int CopyDone(AtomicUpdate *update, const char *src, const char *dst, const FILETIME *write, HWND *dialog)
{
    if (update)
        return PrepareCopy(update, src, dst, write, CopyProgressRoutine, dialog);
    return ReplaceByCopy(src, dst, write, CopyProgressRoutine, dialog);
}

int CopyAsked(AtomicUpdate *update, const char *src, const char *dst, const FILETIME *write, HWND dialog)
{
    TraceDeleteOutcome(dst);
    for (;;) {
        if (CopyDone(update, src, dst, write, &dialog)) {
            TracePrintf("\t\t\t\tCopy\tsrc -> dst\n");
            // The prepared file has its times already and is not at dst yet.
            if (!update)
                SetFileTimeByFilename(dst, write, nullptr, write);
            return 1;
        }
        int answer = AskAboutFailure(dialog);
        if (answer != IDRETRY)
            return answer == IDIGNORE ? 1 : 0;
    }
}

int CopyWith(AtomicUpdate *update, const char *src, const char *dst, HWND dialog)
{
    TracePrintf("\t\t[%s]>>\n", "Copy");
    TracePrintf("\t\t\tsrc = %s\n", src);
    TracePrintf("\t\t\tdst = %s\n", dst);
    int result = 0;
    FILETIME write;
    if (GetFileTimeByFilename(src, nullptr, nullptr, &write)) {
        TraceLastWriteTime(&write);
        result = CopyAsked(update, src, dst, &write, dialog);
    } else {
        RecordFaultPath(src);
    }
    TracePrintf("\t\tbResult = %d\n", result);
    TracePrintf("\t\t[%s]<<\n", "Copy");
    return result;
}

int DeleteWith(AtomicUpdate *update, const char *path, HWND dialog)
{
    TracePrintf("\t\t[%s]>>\n", "Delete");
    TracePrintf("\t\t\t%s\n", path);
    int result = 1;
    while (!(update ? PrepareRemove(update, path) : DeletePlainFile(path))) {
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

int CreateWith(AtomicUpdate *update, const char *path)
{
    TracePrintf("\t\t[%s]>>\n", "Create");
    TracePrintf("\t\t\tDname = %s\n", path);
    TracePrintf("\n\t\t\tCreateDirectory.\n");
    int result = 1;
    DWORD error = 0;
    if (update)
        error = PrepareFolder(update, path);
    else if (!CreateDirectoryA(path, nullptr))
        error = GetLastError();
    if (!error) {
        TracePrintf("\t\t\t\tSucceed.\n");
    } else {
        TracePrintf("\t\t\t\tFailed. GetLastError() = %d\n", (int)error);
        SetLastError(error);  // the trace may have touched it
        char *text = GetLastErrorText();
        TracePrintf("\t\t\t\t%s.\n", text);
        LocalFree(text);
        result = error == ERROR_ALREADY_EXISTS ? 1 : 0;
        if (!result)
            RecordError(error);
    }
    TracePrintf("\t\tbResult = %d\n", result);
    TracePrintf("\t\t[%s]<<\n", "Create");
    return result;
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
    return CopyWith(nullptr, src, dst, dialog);
}

int Delete(const char *path, HWND dialog)
{
    return DeleteWith(nullptr, path, dialog);
}

int Create(const char *path)
{
    return CreateWith(nullptr, path);
}

int CopyPrepared(AtomicUpdate *update, const char *src, const char *dst, HWND dialog)
{
    return CopyWith(update, src, dst, dialog);
}

int DeletePrepared(AtomicUpdate *update, const char *path, HWND dialog)
{
    return DeleteWith(update, path, dialog);
}

int CreatePrepared(AtomicUpdate *update, const char *path)
{
    return CreateWith(update, path);
}
