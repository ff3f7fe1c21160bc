// An elevated, packaged, real run does its work from a verified copy of the
// updater in its stage (exec/stage.h), never from the update folder: a
// program's folder is searched first for every library it loads and every
// program it starts by name, and the update folder is writable by whoever
// unpacked it. The updater started by the user copies itself there, checks
// the copy against its own manifest, starts it and ends with its exit code,
// showing nothing; the copy is handed the update folder, stages the
// package's plug-ins and programs beside itself and runs the update.
#pragma once

#include "base/strutil.h"
#include "run/cmdline.h"

struct StagedRun {
    int child;                       // this process is the copy in the stage
    char srcFolder[MAX_PATH_BYTES];  // the update folder, ending in a backslash
    const char *cmdLine;             // the command line without the hand-over
    const char *refusal;             // why the run cannot be staged (it ends then), or null
    int refusalCode;                 // RESULT_BAD_PACKAGE, or RESULT_NO_SPACE for a stage that does not fit
    unsigned long long need, freeBytes;  // a stage that does not fit: its bytes, the drive's free ones
};

// Before anything else of the run (nothing is traced yet). 1 when the copy
// ran the update: *exitCode is its exit code. 0: this process runs it,
// as run tells (a copy handed the update folder, or the run in place:
// without administrator rights, without a manifest, a dry run, or one that
// cannot be staged and ends with run->refusalCode).
int RunFromStage(void *instance, const char *cmdLine, StagedRun *run, int *exitCode);
// The copy, once its command line is read and traced: the destination and
// the result file's path are made absolute from the folder it was started
// in, its current folder becomes the stage, and programs started from here
// on leave the current folder out of their search for programs.
void EnterStage(const StagedRun *run, CommandLineOptions *cl);
// Before the post program, which is the user's application, not the update's.
void LeaveStage(const StagedRun *run);
