#include "base/tracelog.h"

#include "base/dryrun.h"
#include "base/safefile.h"

#include <windows.h>
#include <shlwapi.h>
#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

char szLogPath[MAX_PATH_BYTES];

#ifdef LUMIUPD_BENCH_BUILD
// The benchmark's floors repeat one open-append-close cycle per logged call.
unsigned long benchTraceCalls;
#endif

namespace {

// The log's name is held for the whole run by a handle that does not share
// deletion, taken once the file behind the name has passed every check: no
// other process can then rename, delete or replace what is at the name, so
// each line may open it again by name and needs only the small checks.
HANDLE logPin = INVALID_HANDLE_VALUE;
char pinnedPath[MAX_PATH_BYTES];

void Unpin(void)
{
    if (logPin != INVALID_HANDLE_VALUE)
        CloseHandle(logPin);
    logPin = INVALID_HANDLE_VALUE;
    pinnedPath[0] = '\0';
}

// 1 pinned, 0 refused (logging stops for the run), -1 held by another
// program just now (this line is lost, the next one tries again).
int PinLog(DWORD disposition)
{
    Unpin();
    logPin = OpenPlainFile(szLogPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition);
    if (logPin != INVALID_HANDLE_VALUE)
        return StrCopy(pinnedPath, sizeof(pinnedPath), szLogPath);
    if (GetLastError() == ERROR_SHARING_VIOLATION)
        return -1;
    szLogPath[0] = '\0';
    return 0;
}

// The temporary folder is writable without elevation: a link or reparse point
// planted at the log's path would make the elevated updater write into a file
// someone else chose. Such a file is never written; logging stops instead.
// Opening changes nothing: the checks come before any write or truncation.
HANDLE OpenLogHandle(DWORD disposition)
{
    if (strcmp(pinnedPath, szLogPath) != 0 && PinLog(disposition) != 1)
        return INVALID_HANDLE_VALUE;
    // Shared for reading only, which the pin needs: no other writer meanwhile.
    HANDLE file = CreateFileA(szLogPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    if (!IsPlainFileHandle(file)) {
        CloseHandle(file);
        szLogPath[0] = '\0';
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// The previous run's log is kept once, as "Lumiupd.1.log" beside it, before
// it is emptied: a customer's retry must not destroy the evidence of the
// failure that made them retry. The copy is guarded like the log itself.
void KeepPreviousLog(HANDLE log, const char *folder)
{
    char keptPath[MAX_PATH_BYTES];
    LARGE_INTEGER size;
    if (!GetFileSizeEx(log, &size) || size.QuadPart == 0 || !StrCopy(keptPath, sizeof(keptPath), folder) ||
        !PathAppendA(keptPath, "Lumiupd.1.log"))
        return;
    HANDLE kept = OpenPlainFile(keptPath, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
    if (kept == INVALID_HANDLE_VALUE)
        return;
    if (SetEndOfFile(kept)) {
        char buffer[8192];
        DWORD got = 0, put = 0;
        SetFilePointer(log, 0, nullptr, FILE_BEGIN);
        while (ReadFile(log, buffer, sizeof(buffer), &got, nullptr) && got > 0 &&
               WriteFile(kept, buffer, got, &put, nullptr) && put == got) {
        }
    }
    CloseHandle(kept);
}

// A dry run changes nothing, so none of its lines has to be on disk before
// the next one is made: its lines are gathered here and written in one go
// when the run lets go of the log. Opening the log for every line was most of
// a dry run's time under Wine, each open a handful of requests to the server.
char *held = nullptr;
size_t heldLength = 0, heldSize = 0;

// Appends text with every "\n" as CR LF, as the text mode of a line does.
int Hold(const char *text)
{
    size_t n = strlen(text) * 2;
    if (heldLength + n + 1 > heldSize) {
        size_t size = (heldSize + n + 1) * 2;
        char *grown = (char *)realloc(held, size);
        if (!grown)
            return 0;
        held = grown;
        heldSize = size;
    }
    for (const char *p = text; *p; p++) {
        if (*p == '\n')
            held[heldLength++] = '\r';
        held[heldLength++] = *p;
    }
    return 1;
}

void WriteHeld(void)
{
    HANDLE file = heldLength && szLogPath[0] ? OpenLogHandle(OPEN_EXISTING) : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        SetFilePointer(file, 0, nullptr, FILE_END);
        WriteFile(file, held, (DWORD)heldLength, &written, nullptr);
        CloseHandle(file);
    }
    free(held);
    held = nullptr;
    heldLength = heldSize = 0;
}

// A dry run's line, kept for WriteHeld; 0 when it must be written at once.
int HeldLine(const char *format, va_list args)
{
    if (!IsDryRun())
        return 0;
    va_list again;
    va_copy(again, args);
    int n = _vscprintf(format, again);
    va_end(again);
    char *line = n >= 0 ? (char *)malloc((size_t)n + 1) : nullptr;
    int kept = line && vsnprintf(line, (size_t)n + 1, format, args) >= 0 && Hold(line);
    free(line);
    // Short of memory: what was gathered goes first, then lines one by one.
    if (!kept)
        WriteHeld();
    return kept;
}

} // namespace

void TraceLogStart(void)
{
    char folder[MAX_PATH_BYTES];
    szLogPath[0] = '\0';
    Unpin();
    DWORD len = GetTempPathA(MAX_PATH_BYTES, folder);
    if (len == 0 || len >= MAX_PATH_BYTES || !StrCopy(szLogPath, sizeof(szLogPath), folder) ||
        !PathAppendA(szLogPath, "Lumiupd.log")) {
        szLogPath[0] = '\0';
        return;
    }
    // Truncate through the checked handle, not by CREATE_ALWAYS, which would
    // empty a link's target before it could be looked at.
    HANDLE file = OpenLogHandle(OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return;
    KeepPreviousLog(file, folder);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
}

void TracePrintf(const char *format, ...)
{
    if (!szLogPath[0])
        return;
#ifdef LUMIUPD_BENCH_BUILD
    benchTraceCalls++;
#endif
    va_list args;
    va_start(args, format);
    int kept = HeldLine(format, args);
    va_end(args);
    if (kept)
        return;
    // The file must already exist: a log removed during the run stays so.
    HANDLE handle = OpenLogHandle(OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    int fd = _open_osfhandle((intptr_t)handle, _O_TEXT | _O_APPEND);
    if (fd == -1) {
        CloseHandle(handle);
        return;
    }
    // Text mode turns every "\n" of a format into CR LF.
    FILE *file = _fdopen(fd, "at");
    if (!file) {
        _close(fd);
        return;
    }
    fseek(file, 0, SEEK_END);
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fclose(file);
}

void TraceLogStop(void)
{
    WriteHeld();
    Unpin();
}

char *GetLastErrorText(void)
{
    DWORD code = GetLastError();
    char *text = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                  FORMAT_MESSAGE_FROM_SYSTEM;
    if (FormatMessageA(flags, nullptr, code, 0x400, (LPSTR)&text, 0, nullptr) && text)
        return text;
    // No system text for this code: callers still log, show and LocalFree it.
    text = (char *)LocalAlloc(LMEM_FIXED, 64);
    if (text)
        wsprintfA(text, "Error %lu (0x%08lX).\r\n", code, code);
    return text;
}
