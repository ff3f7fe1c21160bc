// Which files of a checked package the run loads or starts from verified
// copies: every listed file in the folder of a plug-in or a program the
// script takes from the update folder, and, for a plug-in, at the folder's
// top too, since those are the places its own libraries are looked for.
#pragma once

#include "base/ptrlist.h"
#include "checks/packagecheck.h"

// Only a run from a stage (run/selfstage.h) stages anything. RESULT_SUCCESS
// when there is nothing to stage or all of it is staged; RESULT_NO_SPACE
// when it does not fit on the stage's drive (traced); RESULT_BAD_PACKAGE
// (the package refused, the file named) when a copy cannot be made.
int StagePackage(PackageCheck *check, const char *srcFolder, const PtrList *commands);
// The package's checked files become the sources of its copies (exec/copysource.h).
int UseCheckedFiles(const PackageCheck *check, const char *srcFolder);
// The trace line of a stage that does not fit.
void TraceStageShort(unsigned long long need, unsigned long long freeBytes);
