#include "base/tracelog.h"

#include <windows.h>
#include <shlwapi.h>
#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

char szLogPath[MAX_PATH_BYTES];

#ifdef LUMIUPD_BENCH_BUILD
// The benchmark's floors repeat one open-append-close cycle per logged call.
unsigned long benchTraceCalls;
#endif

namespace {

// One name, no reparse point, no folder. Asked as two small questions: the
// full BY_HANDLE_FILE_INFORMATION also fetches the volume serial number,
// which costs every line of the log a round trip under some systems.
int IsPlainFile(HANDLE file)
{
    FILE_STANDARD_INFO standard;
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)) ||
        !GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof(tag)))
        return 0;
    return standard.NumberOfLinks == 1 && !standard.Directory &&
           !(tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
}

// What the final path of an opened log must be, worked out once per path.
struct ExpectedPath {
    char path[MAX_PATH_BYTES];
    WCHAR final[MAX_PATH_BYTES + 8];
    size_t len;
};

// A Unix symbolic link looks like a plain file with one name under Wine, but
// the handle's final path is its target's. The expected final path is the
// final path of the intended folder, opened as a folder, plus the intended
// name, not the long form of the intended path: both sides then come from
// the same call in the same form ("\\?\", long names, the folder's own
// links resolved), so a short 8.3 or trailing-backslash temporary folder
// still matches, and a redirected one is not refused.
int ExpectFinalPath(ExpectedPath *expected, const char *path)
{
    if (expected->path[0] && strcmp(expected->path, path) == 0)
        return 1;
    expected->path[0] = '\0';
    char folder[MAX_PATH_BYTES];
    WCHAR name[MAX_PATH_BYTES];
    const char *last = PathLastComponent(path);
    size_t folderLen = (size_t)(last - path);
    if (folderLen == 0 || folderLen >= sizeof(folder) || !*last ||
        !MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, last, -1, name, MAX_PATH_BYTES))
        return 0;
    memcpy(folder, path, folderLen);
    folder[folderLen] = '\0';
    HANDLE dir = CreateFileA(folder, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (dir == INVALID_HANDLE_VALUE)
        return 0;
    const DWORD room = MAX_PATH_BYTES + 8;
    DWORD len = GetFinalPathNameByHandleW(dir, expected->final, room, FILE_NAME_NORMALIZED);
    CloseHandle(dir);
    if (len == 0 || len >= room)
        return 0;
    // A drive's root ends in a backslash of its own; any other folder does not.
    if (expected->final[len - 1] == L'\\')
        len--;
    size_t nameLen = (size_t)lstrlenW(name);
    if (len + 1 + nameLen >= room)
        return 0;
    expected->final[len] = L'\\';
    memcpy(expected->final + len + 1, name, (nameLen + 1) * sizeof(WCHAR));
    expected->len = len + 1 + nameLen;
    return StrCopy(expected->path, sizeof(expected->path), path);
}

// The system gives the on-disk case on both sides, so only the intended
// name's case can differ: ASCII letters fold, every other character is exact.
int NamesExpectedPath(HANDLE file, const ExpectedPath *expected)
{
    WCHAR final[MAX_PATH_BYTES + 8];
    DWORD len = GetFinalPathNameByHandleW(file, final, MAX_PATH_BYTES + 8, FILE_NAME_NORMALIZED);
    if (len != expected->len)
        return 0;
    for (DWORD i = 0; i < len; i++) {
        WCHAR x = final[i] >= L'a' && final[i] <= L'z' ? (WCHAR)(final[i] - 32) : final[i];
        WCHAR y = expected->final[i] >= L'a' && expected->final[i] <= L'z' ? (WCHAR)(expected->final[i] - 32)
                                                                           : expected->final[i];
        if (x != y)
            return 0;
    }
    return 1;
}

// Worked out when the log's path is first opened. Every line asks the
// handle's final path again (one request to the system): a file swapped in
// under the log's name between two lines is caught like one planted before
// the first. The file id would serve as well, but under Wine its volume
// serial number costs a round trip to the mount manager on every line.
ExpectedPath logExpected;

// The temporary folder is writable without elevation: a link or reparse point
// planted at the log's path would make the elevated updater write into a file
// someone else chose. Such a file is never written; logging stops instead.
// Opening changes nothing (OPEN_ALWAYS creates at most a new file): all the
// checks come before any write or truncation.
HANDLE OpenLogHandle(DWORD disposition)
{
    HANDLE file = CreateFileA(szLogPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    if (!IsPlainFile(file) || !ExpectFinalPath(&logExpected, szLogPath) || !NamesExpectedPath(file, &logExpected)) {
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
    HANDLE kept = CreateFileA(keptPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (kept == INVALID_HANDLE_VALUE)
        return;
    ExpectedPath expected;
    expected.path[0] = '\0';
    if (IsPlainFile(kept) && ExpectFinalPath(&expected, keptPath) && NamesExpectedPath(kept, &expected) &&
        SetEndOfFile(kept)) {
        char buffer[8192];
        DWORD got = 0, put = 0;
        SetFilePointer(log, 0, nullptr, FILE_BEGIN);
        while (ReadFile(log, buffer, sizeof(buffer), &got, nullptr) && got > 0 &&
               WriteFile(kept, buffer, got, &put, nullptr) && put == got) {
        }
    }
    CloseHandle(kept);
}

} // namespace

void TraceLogStart(void)
{
    char folder[MAX_PATH_BYTES];
    szLogPath[0] = '\0';
    logExpected.path[0] = '\0';
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
    // No sharing while a line is added; the file must already exist.
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
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fclose(file);
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
