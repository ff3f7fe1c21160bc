// Refuses to start while a module that a copy command replaces is in use.
#pragma once

#include "base/ptrlist.h"

int CheckFile(const PtrList *dsts, const PtrList *commands);
