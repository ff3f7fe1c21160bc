// The stages of earlier runs. A killed run leaves its copies in its stage
// below the system's Temp folder for good (they are let go only at the end
// of the run that made them), and so does a run whose program wrote beside
// itself: a later run that stages clears them.
#pragma once

#include <windows.h>

// Deletes, in temp (the system's Temp folder), every folder named as a
// stage is ("~lu" + 16 upper-case hex digits + ".tmp") that no live run
// holds, with what it holds, through handles. A folder or file is deleted
// only when it passes the leftover sweep's checks: one name, no reparse
// point, the path meant, and the owner of ours (this run's own stage, a
// handle with READ_CONTROL). A link inside is never followed: it and the
// folders above it stay.
void ClearStaleStages(const char *temp, HANDLE ours);
