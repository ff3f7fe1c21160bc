// Finds the destination folders when none was given on the command line:
// the registered installed copies that the version gate accepts, else the
// script's install folder, else a folder the user picks.
#pragma once

#include "base/ptrlist.h"

#include <windows.h>

// Where the installed copies register, one subkey each with a "Path" value.
extern const char INSTALLED_COPIES_KEY[];

// Fills dst (heap strings ending in a backslash); always returns 1: the
// caller judges the outcome by the list.
int GetDstPath(const PtrList *targets, PtrList *dst, const char *install);

// The folder-browse dialog's callback: OK is enabled only while the selected
// folder holds "MIRO42.DLL". Returns 0 for every message.
int CALLBACK BrowseFolderCallback(HWND dialog, UINT msg, LPARAM param, LPARAM data);
