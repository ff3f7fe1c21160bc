// The dry run's report: lines a person reads, gathered in the ANSI code
// page as the run goes and written once, in UTF-8, at its end.
#pragma once

#include "base/strutil.h"

#include <stddef.h>

struct WhatIfReport {
    char *text;  // CR LF after each line; null until the first line
    size_t length;
    size_t capacity;
};

// One finding: printf format (the runtime's dialect). A line break inside
// the text becomes a blank, so that each finding stays one line.
void ReportLine(WhatIfReport *report, const char *format, ...)
#if defined(__MINGW32__)
    __attribute__((format(ms_printf, 2, 3)))
#endif
    ;
// Writes the report to path in UTF-8 (with its byte-order mark, for the
// system's own editors), whole or not at all: a new file under a name
// nobody can know, renamed over path. 1 when written.
int ReportWrite(const WhatIfReport *report, const char *path);
void ReportFree(WhatIfReport *report);
// The report's default place, beside the trace log (MAX_PATH_BYTES); 0 when
// the run has no trace log either.
int ReportDefaultPath(char *path);
