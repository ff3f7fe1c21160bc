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

// Told of each module a copy command names in a destination: held is 1
// when another process holds it so.
typedef void (*ModuleSeen)(void *data, const char *folder, const char *filename, int held);
// CheckFile for a dry run: every module is probed and told to seen, without
// waiting for the application and without stopping at a held one. The
// result is CheckFile's.
int CheckFileEach(const PtrList *dsts, const PtrList *commands, ModuleSeen seen, void *data);
