#include "findings.h"

#include "checkfs.h"

#include "base/strutil.h"

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
    return "note";
}

void Count(FindingLog *log, Severity severity)
{
    if (severity == SEVERITY_ERROR)
        log->errors++;
    else if (severity == SEVERITY_WARNING)
        log->warnings++;
}

} // namespace

void InitFindingLog(FindingLog *log, FILE *out, const char *scriptPath, const char *folder)
{
    log->out = out;
    log->scriptPath = scriptPath;
    log->folder = folder;
    log->errors = 0;
    log->warnings = 0;
}

void LineFinding(FindingLog *log, long line, Severity severity, const char *what, const char *text)
{
    Count(log, severity);
    if (!log->out)
        return;
    fprintf(log->out, "%s:%ld: %s: %s\n    %s\n", log->scriptPath, line, SeverityName(severity), what, text);
}

void ScriptFinding(FindingLog *log, Severity severity, const char *what)
{
    Count(log, severity);
    if (!log->out)
        return;
    fprintf(log->out, "%s: %s: %s\n", log->scriptPath, SeverityName(severity), what);
}

void FolderFinding(FindingLog *log, Severity severity, const char *what, const char *file)
{
    Count(log, severity);
    if (!log->out)
        return;
    char path[2 * MAX_PATH_BYTES];
    ShownPath(path, sizeof(path), log->folder, file);
    fprintf(log->out, "%s: %s: %s\n", path, SeverityName(severity), what);
}

void PathFinding(FILE *out, const char *path, const char *what)
{
    fprintf(out, "%s: error: %s\n", path, what);
}
