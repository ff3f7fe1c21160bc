// The dry run's view of one destination's commands: what each would do
// there and what becomes of it, found by looking only.
#pragma once

#include "base/ptrlist.h"
#include "base/strutil.h"
#include "run/whatifreport.h"

// What the commands looked at so far would have changed, for those after
// them: the files and folders they make or remove, and whether a plug-in or
// a program runs before, which may make or remove anything (then a missing
// file no longer proves a failure).
struct DryState {
    PtrList *changes;  // heap texts: 'F' a file made, 'D' a folder made, '-' removed; then the path
    int guessing;
    int frozen;        // for a command that is not run: nothing is changed
    char folderThere[MAX_PATH_BYTES];  // the last folder found there
};

void DryStateFree(DryState *state);

// One line per command, in script order, then the INSTALLED value the
// destination would get (when id is set); each command's outcome goes to the
// run's record. Returns 0 when a command will certainly fail there with the
// answers of an unattended run: the commands after it are not run.
int ReportCommands(WhatIfReport *report, const char *srcFolder, const char *folder, const PtrList *commands,
                   const char *id, DryState *state);
