// Finds the destination folders when none was given on the command line.
#pragma once

#include "base/ptrlist.h"

// Fills dst (heap strings ending in a backslash); always returns 1.
int GetDstPath(const PtrList *targets, PtrList *dst, const char *install);
