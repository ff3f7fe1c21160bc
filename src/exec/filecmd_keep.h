// Keeping the installed file under a second name (a hard link) while a copy
// replaces it, so that a failed copy can put it back.
#pragma once

#include "base/strutil.h"

struct KeptFile {
    int held;
    char path[MAX_PATH_BYTES];
};

// Links dst under a fresh name beside it. Leaves kept->held 0 when there is
// nothing worth keeping or no way to keep it: no plain file at dst, a
// read-only file (its deletion fails anyway, and so would the link's), a
// file others hold without delete sharing, or a volume without links.
void KeepOldFile(KeptFile *kept, const char *dst);
// Removes the second name; the file itself stays wherever dst still names it.
void DropKeptFile(KeptFile *kept);
// Puts the kept file back at dst, replacing whatever a failed copy left there.
void RestoreKeptFile(KeptFile *kept, const char *dst);
