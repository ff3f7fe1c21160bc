#include "launch/startprocess.h"

#include "base/tracelog.h"

// Not yet built: the launch arrives with the post-update launch work.
int StartProcess(const char *command)
{
    TracePrintf("%s(\"%s\")\n", "StartProcess", command);
    return -1;
}
