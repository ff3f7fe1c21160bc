// The updater's command line: options "auto", "silent", "unattended",
// "result=PATH" and "whatif" (or "whatif=PATH") with a "-" or "/" prefix, and
// one destination folder. Nothing here is an error but an option that asks
// for a dry run in a form the updater cannot take (the run refuses it).
#pragma once

#include "base/strutil.h"

// Unattended (for deployment tools) implies auto and silent, and neither the
// updater nor the system shows a window for it (a plug-in's or a started
// program's own windows are theirs).
enum { CL_FLAG_AUTO = 1, CL_FLAG_SILENT = 2, CL_FLAG_UNATTENDED = 4 };
enum { CL_TOKEN_MAX = 255 };

struct CommandLineOptions {
    int flag;
    char dst[MAX_PATH_BYTES];
    // A destination token longer than CL_TOKEN_MAX bytes: no folder can be
    // that long and still hold the data file, so the run refuses it rather
    // than act on a cut path or fall back to searching.
    int dstTooLong;
    // Where the run's record goes (empty: none). Not a flag bit, so that the
    // trace's cl.flag stays what it was for the same run.
    char result[MAX_PATH_BYTES];
    // A dry run: nothing on the machine changes; its report goes to
    // whatIfPath, or beside the trace log when that is empty.
    int whatIf;
    char whatIfPath[MAX_PATH_BYTES];
    // An option that names the dry run but is not "whatif" or "whatif=PATH"
    // ("whatif:PATH", "whatifs", a path too long to take): the run stays a
    // dry one and refuses, since a misspelt dry run must never update. The
    // option as given (its first bytes when it was too long).
    int whatIfRefused;
    char whatIfRefusedOption[CL_TOKEN_MAX + 1];
};

// line: the command line without the program's own path. cl must be zeroed.
void ParseCommandLine(const char *line, CommandLineOptions *cl);
void ApplyToken(CommandLineOptions *cl, const char *token, int isOption);
