// The checker's output: one line per finding, then the summary.
//   LINE 12: error: <what> : <the line's text>
//   SCRIPT: warning: <what>
//   FOLDER: warning: <what> : <file>
// Script text is written as it is, in the script's own bytes.
#pragma once

#include <stdio.h>

enum Severity { SEVERITY_ERROR, SEVERITY_WARNING, SEVERITY_INFO };

struct FindingLog {
    FILE *out;
    int errors;
    int warnings;
};

void InitFindingLog(FindingLog *log, FILE *out);

// text: the line as the updater sees it (up to its end, a CR, LF or zero byte).
void LineFinding(FindingLog *log, long line, Severity severity, const char *what, const char *text);
void ScriptFinding(FindingLog *log, Severity severity, const char *what);
void FolderFinding(FindingLog *log, Severity severity, const char *what, const char *file);
