// The run's trace log, "Lumiupd.log" in the user's temporary folder.
// Every call opens, appends and closes, so each line is on disk when it
// returns; no failure of the log ever reaches the caller or the user. A dry
// run (base/dryrun) is the exception: it changes nothing, and its lines are
// written together when TraceLogStop lets go of the log.
#pragma once

#include "base/strutil.h"

extern char szLogPath[MAX_PATH_BYTES];

#if defined(__MINGW32__)
#define TRACE_FORMAT __attribute__((format(ms_printf, 1, 2)))
#else
#define TRACE_FORMAT
#endif

// Fills szLogPath from the temporary folder and creates or truncates the
// file; a log that held anything is kept first as "Lumiupd.1.log".
// Leaves szLogPath empty (logging off) when there is no temporary folder.
void TraceLogStart(void);

void TracePrintf(const char *format, ...) TRACE_FORMAT;
// Writes a dry run's gathered lines, then lets go of the log's name (the
// run holds it from its first line on).
void TraceLogStop(void);

// The system's text for GetLastError(), ending in CR LF; always a LocalAlloc'd
// text (a fallback naming the code when the system has none). Free with LocalFree.
char *GetLastErrorText(void);
