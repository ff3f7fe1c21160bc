// The dry run's view of one destination's commands: what each would do
// there, found by looking only.
#pragma once

#include "base/ptrlist.h"
#include "run/whatifreport.h"

// One line per command, in script order, then the INSTALLED value the
// destination would get (when id is set).
void ReportCommands(WhatIfReport *report, const char *srcFolder, const char *folder, const PtrList *commands,
                    const char *id);
