// Refuses to start when a destination's drive lacks room for the update folder.
#pragma once

#include "base/ptrlist.h"

// Free space reported where it cannot be measured at all (no drive letter, no
// system library): 2^32 - 1, not -1.
const unsigned long long FREE_SPACE_UNKNOWN = 4294967295ULL;

// dsts: destination folders ending in a backslash; srcFolder: the update
// folder, also ending in one. 1 when every destination's drive has room for
// the update at its fullest: what the growing and new files add, plus the
// largest file that stands in its old and new versions side by side.
int checkSpace(const PtrList *dsts, const char *srcFolder);
// Told of each destination's peak need and its drive's free bytes.
typedef void (*SpaceSeen)(void *data, const char *dst, long long needed, long long freeBytes);
// checkSpace, telling seen (when not null) what it measured.
int checkSpaceEach(const PtrList *dsts, const char *srcFolder, SpaceSeen seen, void *data);
// When a destination is updated all or nothing, every old file stays until
// the whole update is in place: the peak is then every new file in full
// beside the old ones, the new settings file and history beside theirs,
// and the journal.
enum SpacePeak { PEAK_ONE_AT_A_TIME, PEAK_ALL_AT_ONCE };
int checkSpacePeak(const PtrList *dsts, const char *srcFolder, SpacePeak kind, SpaceSeen seen, void *data);
// Bytes that copying everything under srcFolder to dstFolder would add: the
// source sizes less those of like relative paths already there (may be < 0).
long long getNecessarySpaceDir(const char *srcFolder, const char *dstFolder);
// Free bytes the caller may use on drive A (0) to Z (25); 0 when unreadable.
unsigned long long getFreeSpaceDrive(unsigned short driveIndex);
// Low 32 bits of the size of an existing file; 0 when it cannot be opened.
unsigned long GetFileSizeByFilename(const char *path);
