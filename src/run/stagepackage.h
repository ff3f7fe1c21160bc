// Which files of a checked package the run loads or starts from verified
// copies: every listed file in the folder of a plug-in or a program the
// script takes from the update folder, and, for a plug-in, at the folder's
// top too, since those are the places its own libraries are looked for.
#pragma once

#include "base/ptrlist.h"
#include "checks/packagecheck.h"

// 1 when there is nothing to stage or all of it is staged; 0 (the package
// refused, the file named) otherwise.
int StagePackage(PackageCheck *check, const char *srcFolder, const PtrList *commands);
