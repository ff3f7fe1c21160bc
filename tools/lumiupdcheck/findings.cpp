#include "findings.h"

namespace {

const char *SeverityName(Severity severity)
{
    switch (severity) {
    case SEVERITY_ERROR:
        return "error";
    case SEVERITY_WARNING:
        return "warning";
    case SEVERITY_INFO:
        break;
    }
    return "info";
}

void Count(FindingLog *log, Severity severity)
{
    if (severity == SEVERITY_ERROR)
        log->errors++;
    else if (severity == SEVERITY_WARNING)
        log->warnings++;
}

} // namespace

void InitFindingLog(FindingLog *log, FILE *out)
{
    log->out = out;
    log->errors = 0;
    log->warnings = 0;
}

void LineFinding(FindingLog *log, long line, Severity severity, const char *what, const char *text)
{
    Count(log, severity);
    fprintf(log->out, "LINE %ld: %s: %s : %s\n", line, SeverityName(severity), what, text);
}

void ScriptFinding(FindingLog *log, Severity severity, const char *what)
{
    Count(log, severity);
    fprintf(log->out, "SCRIPT: %s: %s\n", SeverityName(severity), what);
}

void FolderFinding(FindingLog *log, Severity severity, const char *what, const char *file)
{
    Count(log, severity);
    fprintf(log->out, "FOLDER: %s: %s : %s\n", SeverityName(severity), what, file);
}
