#include "target/discovery.h"

#include "base/tracelog.h"

// Not yet built: discovery arrives with the destination discovery work.
int GetDstPath(const PtrList *targets, PtrList *dst, const char *install)
{
    (void)targets;
    (void)dst;
    (void)install;
    TracePrintf("\t[%s]>>\n", "GetDstPath");
    TracePrintf("\t[%s]<<\n", "GetDstPath");
    return 1;
}
