// Carries out the script's commands in every destination folder.
#pragma once

#include "base/ptrlist.h"

#include <stddef.h>

enum { EXEC_TEXT_BUFFER = 520 };

// instance: the module holding the progress dialog template (HINSTANCE).
// Consumes dsts (pops and frees each folder). Every destination is worked
// through; 1 only when the commands of all of them succeeded. atomic: each
// destination is updated all or nothing (exec/atomic.h).
int Update(void *instance, const char *srcFolder, PtrList *dsts, const PtrList *commands,
           const char *id, int silent, int atomic = 0);

// The paths a command works with in folder, as the executor builds them:
// src ("%DSTPATH%" replaced, made absolute against srcFolder) and dst
// (folder + filename), each EXEC_TEXT_BUFFER bytes, empty when it does not
// fit. Bit 1 of the result: src was built; bit 2: dst was.
int CommandPathsFor(const char *srcFolder, const char *folder, const struct FileEntry *entry, char *src,
                    char *dst);

// What a run cut off by a power failure left, cleared where this script
// writes: each destination folder (its settings file) and the folder of each
// file it copies. Done before the checks, so that the room such files take
// counts as free; no other folder is looked into.
void ClearLeftoversFor(const PtrList *dsts, const PtrList *commands);

// Puts the folder's short path in place of every "%DSTPATH%" in text (size
// bytes); the folder as given when its short path cannot be had. 0, with
// text unchanged, when the result would not fit.
int ReplaceDstPath(char *text, size_t size, const char *folder);
