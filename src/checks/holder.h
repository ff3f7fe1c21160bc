// Who holds a module that the update would replace: what the system tells
// of the processes that have it loaded. For support only (the result file,
// the dry run's report); the locked-module check itself never asks.
#pragma once

#include <stddef.h>

// The first other process whose loaded modules include path (compared
// without regard to ASCII letter case): its id in *pid and its program's
// path in program (size bytes). 0, *pid 0 and program empty, when the
// system names none (a process it will not show, or a file held open some
// other way than loaded).
int FindModuleHolder(const char *path, unsigned long *pid, char *program, size_t size);
