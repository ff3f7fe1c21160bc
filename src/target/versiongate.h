// Accepts an installed copy only when its data version matches a target pattern.
#pragma once

#include "base/ptrlist.h"

// folder ends with a backslash; targets holds the pattern strings.
int VersionGate(const char *folder, const PtrList *targets);
