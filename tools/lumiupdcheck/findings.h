// The checker's output, in the convention compilers use so that editors and
// CI annotate the script: one line per finding, then the summary.
//   SCRIPT:12: error: <what>        followed by "    <the line's text>"
//   SCRIPT: warning: <what>         about the script as a whole
//   FOLDER\file: warning: <what>    about a file of the update folder
// Script text is written as it is, in the script's own bytes.
#pragma once

#include <stdio.h>

enum Severity { SEVERITY_ERROR, SEVERITY_WARNING, SEVERITY_INFO };

struct FindingLog {
    FILE *out;  // null: findings are only counted
    const char *scriptPath;
    const char *folder;  // ends with a backslash; null without an update folder
    int errors;
    int warnings;
};

void InitFindingLog(FindingLog *log, FILE *out, const char *scriptPath, const char *folder);

// text: the line as the updater sees it (up to its end, a CR, LF or zero byte).
void LineFinding(FindingLog *log, long line, Severity severity, const char *what, const char *text);
void ScriptFinding(FindingLog *log, Severity severity, const char *what);
// file: relative to the update folder ("" for the folder itself).
void FolderFinding(FindingLog *log, Severity severity, const char *what, const char *file);
// A finding about a path before any checking starts (the checker then ends).
void PathFinding(FILE *out, const char *path, const char *what);
