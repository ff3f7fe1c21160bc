// Text rules of the update history and the installed list, free of any
// platform call.
#pragma once

enum { MAX_INSTALLED_KEPT = 256 };

// Cuts a history comment in place at its first "/": first gets the text
// before it, second everything after it (further "/" included, so no part of
// the comment is lost). Without a "/", second is the empty text.
void SplitComment(char *comment, char **first, char **second);

// The new INSTALLED value: the old value's non-empty entries without repeats
// (compared byte for byte), at most MAX_INSTALLED_KEPT of them, each followed
// by a comma, then id. A heap text (free), null when out of memory. Entries
// are never cut: the result is sized from the inputs.
char *MergeInstalledIds(const char *oldValue, const char *id);
// Whether id is one of the entries of an INSTALLED value (compared byte for
// byte, as the merge compares them); an empty id is in none.
int InstalledHasId(const char *value, const char *id);
