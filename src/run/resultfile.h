// The run's result file (-result=PATH): a small UTF-8 JSON record of what the
// run did, for deployment tools that collect it from many machines. It is
// written whole or not at all, at the end of every run that was not killed,
// so its absence after a run means the run was killed.
#pragma once

#include "script/script.h"

#include <stddef.h>

// Before anything else of the run: a record at path from an earlier run is
// deleted, so that one found there afterwards is always this run's.
void StartResultFile(const char *path);

// How the run ended, as the record tells it.
struct RunEnd {
    int nResult;
    int unattended;
    int dryRun;           // the code and the outcomes are predictions
    const char *badFile;  // code 8: the file of the update folder at fault
    unsigned long elapsedMs;
};

// At the end of the run: the record of script's run. Traces a line only when
// it cannot be written.
void WriteResultFile(const char *path, const UpdateScript &script, const RunEnd &end);

// The record as it is put together; failed once memory ran out.
struct JsonText {
    char *text;
    size_t used, size;
    int failed;
};

void JsonRaw(JsonText *out, const char *raw);
// text (in the ANSI code page) as a JSON string in UTF-8, quotes included; a
// byte that is no character comes out as U+FFFD, so that no text can break
// the record.
void JsonString(JsonText *out, const char *text);
