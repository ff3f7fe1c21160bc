#include "checks/checkfile.h"

#include "base/tracelog.h"

// Not yet built: the locked-module check arrives with the pre-flight work.
int CheckFile(const PtrList *dsts, const PtrList *commands)
{
    (void)dsts;
    (void)commands;
    TracePrintf("\t[%s]>>\n", "CheckFile");
    TracePrintf("\tbResult = %d\n", 1);
    TracePrintf("\t[%s]<<\n", "CheckFile");
    return 1;
}
