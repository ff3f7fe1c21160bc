// The one pattern of the names a run gives the files it is still writing:
// "~lu" + the process id in 8 upper-case hex digits + ".tmp", in the folder of
// the file they will replace. Such a name never holds the only whole copy of
// anything (the installed name keeps the old file until the new one is whole),
// so whatever a killed run left under it may simply be deleted.
#pragma once

#include <stddef.h>

enum { LEFTOVER_NAME_BYTES = 16 };  // "~luXXXXXXXX.tmp" and the terminator

// This run's name for process pid into name (LEFTOVER_NAME_BYTES).
void LeftoverName(char *name, unsigned long pid);
// 1 when name (a bare file name) has the pattern, any letter case.
int IsLeftoverName(const char *name);
