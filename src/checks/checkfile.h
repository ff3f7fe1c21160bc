// Refuses to start while a module that a copy command replaces is in use.
#pragma once

#include "base/ptrlist.h"

// The running application's top-level window and how long each module entry
// waits for its process to end.
extern const char APP_WINDOW_CLASS[];
enum { APP_WAIT_MS = 15000 };

// dsts: destination folders ending in a backslash; commands: FileEntry records.
// 1 when no module of a copy command is locked in any destination, 0 at the
// first one that is (a sharing or lock violation on a write open).
int CheckFile(const PtrList *dsts, const PtrList *commands);
