#include "run/whatifreport.h"

#include "base/tracelog.h"
#include "exec/filereplace.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

enum { LINE_BYTES = 2048 };

const char REPORT_NAME[] = "Lumiupd.whatif.txt";

int Reserve(WhatIfReport *report, size_t more)
{
    if (report->length + more <= report->capacity)
        return 1;
    size_t capacity = (report->capacity + more) * 2;
    char *grown = (char *)realloc(report->text, capacity);
    if (!grown)
        return 0;
    report->text = grown;
    report->capacity = capacity;
    return 1;
}

// The text in UTF-8 after a byte-order mark (heap, free); *size its bytes.
char *ToUtf8(const WhatIfReport *report, int *size)
{
    *size = 0;
    int length = (int)report->length;
    int chars = length ? MultiByteToWideChar(CP_ACP, 0, report->text, length, nullptr, 0) : 0;
    WCHAR *wide = (WCHAR *)malloc(((size_t)chars + 1) * sizeof(WCHAR));
    // A UTF-16 unit takes at most three UTF-8 bytes.
    char *utf8 = wide ? (char *)malloc(3 + (size_t)chars * 3) : nullptr;
    if (utf8) {
        memcpy(utf8, "\xEF\xBB\xBF", 3);
        *size = 3;
        if (chars && MultiByteToWideChar(CP_ACP, 0, report->text, length, wide, chars) == chars)
            *size += WideCharToMultiByte(CP_UTF8, 0, wide, chars, utf8 + 3, chars * 3, nullptr, nullptr);
    }
    free(wide);
    return utf8;
}

} // namespace

void ReportLine(WhatIfReport *report, const char *format, ...)
{
    char line[LINE_BYTES];
    va_list args;
    va_start(args, format);
    int len = vsnprintf(line, sizeof(line) - 2, format, args);
    va_end(args);
    // A finding longer than a line holds is cut; it is for reading.
    if (len < 0 || len >= (int)sizeof(line) - 2)
        len = (int)strlen(line);
    for (int i = 0; i < len; i++)
        if (line[i] == '\r' || line[i] == '\n')
            line[i] = ' ';
    memcpy(line + len, "\r\n", 2);
    if (Reserve(report, (size_t)len + 2)) {
        memcpy(report->text + report->length, line, (size_t)len + 2);
        report->length += (size_t)len + 2;
    }
}

int ReportWrite(const WhatIfReport *report, const char *path)
{
    int size = 0;
    char *utf8 = ToUtf8(report, &size);
    int written = utf8 && WriteWholeFile(path, utf8, (DWORD)size);
    free(utf8);
    TracePrintf("whatif report %s: %s\n", written ? "written" : "NOT written", path);
    return written;
}

void ReportFree(WhatIfReport *report)
{
    free(report->text);
    report->text = nullptr;
    report->length = report->capacity = 0;
}

int ReportDefaultPath(char *path)
{
    if (!szLogPath[0] || !StrCopy(path, MAX_PATH_BYTES, szLogPath))
        return 0;
    path[PathLastComponent(path) - path] = '\0';
    return StrAppend(path, MAX_PATH_BYTES, REPORT_NAME);
}
