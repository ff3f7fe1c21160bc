// The one pattern of the names a run gives the files it is still writing:
// "~lu" + 16 upper-case hex digits drawn at random + ".tmp", in the folder of
// the file they will become. No other process can know such a name before
// the file is there, and the file is created new, so nothing planted at the
// name can be followed. Such a name never holds the only whole copy of
// anything (the installed name keeps the old file until the new one is whole).
#pragma once

#include <stddef.h>

enum { LEFTOVER_NAME_BYTES = 24 };  // "~luXXXXXXXXXXXXXXXX.tmp" and the terminator

// The name made of the two random halves into name (LEFTOVER_NAME_BYTES).
void LeftoverName(char *name, unsigned long high, unsigned long low);
// 1 when name (a bare file name) is exactly of that pattern.
int IsLeftoverName(const char *name);

// An all-or-nothing update keeps two more kinds of file under such names
// until it is done or undone: the old files it replaced or removed (".bak")
// and its journal (".jnl"). Nothing that clears ".tmp" files (an updater of
// an earlier version included) takes them: only the journal's reader may,
// and it knows them by its records.
enum LeftoverKind { LEFTOVER_NEW, LEFTOVER_BACKUP, LEFTOVER_JOURNAL };
void LeftoverNameOf(char *name, unsigned long high, unsigned long low, LeftoverKind kind);
int IsLeftoverNameOf(const char *name, LeftoverKind kind);
