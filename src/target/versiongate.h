// Accepts an installed copy only when its data version matches a target pattern.
#pragma once

#include "base/ptrlist.h"

// folder ends with a backslash; targets holds the pattern strings. 1 when the
// version in the folder's "RT_IDX.DAT" (8 bytes at offset 72) matches one of
// them; 0 for no match, an empty list, a data file that does not open, or a
// folder too long to hold the file name in 260 bytes.
int VersionGate(const char *folder, const PtrList *targets);
// The same, and *versionRead tells whether the data file gave a version at
// all: a refusal then means the data is of another version, not that there
// is no data to judge.
int VersionGateEx(const char *folder, const PtrList *targets, int *versionRead);

// The data version in the folder's "RT_IDX.DAT" as text (version: 9 bytes);
// 0 when the file does not open.
int ReadDataVersion(const char *folder, char *version);

// The matching itself: "-X" (at most X), "X-" (at least X), anything else
// (the empty pattern too) a prefix that the version text must begin with.
// 1 when version matches at least one pattern of targets (strings); 0 for
// none and for an empty list.
int MatchVersion(const char *version, const PtrList *targets);
int MatchVersionPattern(const char *version, const char *pattern);
// The number at the start of text, read as atof reads a decimal number:
// blanks skipped, sign, digits, fraction, exponent; 0 when there is none.
double VersionNumber(const char *text);
