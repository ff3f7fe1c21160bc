#include "base/tracelog.h"

#include <windows.h>
#include <shlwapi.h>
#include <share.h>
#include <stdarg.h>
#include <stdio.h>

char szLogPath[MAX_PATH_BYTES];

void TraceLogStart(void)
{
    szLogPath[0] = '\0';
    DWORD len = GetTempPathA(MAX_PATH_BYTES, szLogPath);
    if (len == 0 || len >= MAX_PATH_BYTES || !PathAppendA(szLogPath, "Lumiupd.log")) {
        szLogPath[0] = '\0';
        return;
    }
    HANDLE file = CreateFileA(szLogPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

void TracePrintf(const char *format, ...)
{
    if (!szLogPath[0])
        return;
    // Text mode turns every "\n" into CR LF; others may not read or write
    // while a line is being added.
    FILE *file = _fsopen(szLogPath, "r+t", _SH_DENYRW);
    if (!file)
        return;
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
