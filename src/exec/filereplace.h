// Replacing an installed file so that its name holds, at every instant and
// after a kill at any point, either the whole old file or the whole new one:
// the new file is written under a leftover name beside it, put on disk, and
// only then renamed over the old one.
#pragma once

#include "base/ptrlist.h"

#include <windows.h>

// What deleting path would fail with (0 when it would succeed), found
// without deleting anything.
DWORD DeleteOutcome(const char *path);

// Copies src over dst that way, with the source's last-write time as the new
// file's creation and last-write times. The copy reports its progress to
// routine with data. On failure nothing at dst has changed, no leftover name
// remains, and the last error tells why (for a file that cannot be replaced,
// the error that writing over it gives).
int ReplaceByCopy(const char *src, const char *dst, const FILETIME *write,
                  LPPROGRESS_ROUTINE routine, void *data);

// Puts a file written under a leftover name on disk and renames it over dst.
// On failure the leftover name is deleted and dst has not changed.
int CommitFile(const char *temp, const char *dst);

// The leftover name for a new file at path, in path's folder; 0 when no such
// name fits in size bytes.
int LeftoverPathFor(char *temp, size_t size, const char *path);

// Deletes every file with a leftover name in folder, and in its subfolders
// when asked (links to other folders are not followed). Each one removed is
// traced.
void ClearLeftovers(const char *folder, int subfolders);
// ClearLeftovers in every folder of the list and its subfolders: done before
// the run's checks, so that what a killed run left takes no room they count.
void ClearLeftoversIn(const PtrList *folders);
