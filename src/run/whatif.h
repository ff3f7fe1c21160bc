// The dry run (-whatif): the run's order followed as far as it goes without
// changing anything on the machine, each finding a line of its report.
#pragma once

#include "base/ptrlist.h"
#include "script/script.h"

// Starts the report (reportPath empty: beside the trace log) and says in
// the trace that this run is a dry one.
void WhatIfStart(const char *reportPath, const char *cmdLine, const char *srcFolder);
// A dry run asked for in a form that cannot be taken: traced and reported,
// and nothing more is done. Returns the code: the script is not read.
int WhatIfRefuseOption(const char *option);
// The steps after the destinations were looked for (nResult so far): the
// destinations, the checks and every command in each destination. Returns
// the code the real run would end with where that can be known, else 0.
int WhatIfSteps(int nResult, const char *srcFolder, const char *cmdDst, const PtrList *dsts,
                const UpdateScript &script);
// The closing lines (the code, the post program) and the report's file.
void WhatIfFinish(int nResult, const UpdateScript &script, const char *badFile);
