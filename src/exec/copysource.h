// Where a copy reads its source. In a checked package every file a command
// takes from the update folder was checked and is held open since: the
// copy reads that very file through its handle, never what its name leads
// to by then (in a folder whose names are case-sensitive, "data\new.dat"
// and "data\NEW.DAT" are two files).
#pragma once

#include <windows.h>

// path (full, as the executor forms it) is a checked file, held by held.
int AddCheckedSource(const char *path, HANDLE held);
// The source at path for reading from its start: a second handle of the
// checked file when path names one (ASCII letter case ignored), else the
// file path names, opened for reading with share and flags. The caller
// closes it. INVALID_HANDLE_VALUE, with the last error, when it cannot be had.
HANDLE OpenCopySource(const char *path, DWORD share, DWORD flags);
// Forgets them all (their handles are not this list's).
void ForgetCheckedSources(void);
