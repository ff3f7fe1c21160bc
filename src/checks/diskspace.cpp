#include "checks/diskspace.h"

#include "base/tracelog.h"

// Not yet built: the disk-space check arrives with the pre-flight work.
int checkSpace(const PtrList *dsts, const char *srcFolder)
{
    (void)dsts;
    (void)srcFolder;
    TracePrintf("\t\t[%s]>>\n", "checkSpace");
    TracePrintf("\t\tubResult = %d\n", 1);
    TracePrintf("\t\t[%s]<<\n", "checkSpace");
    return 1;
}

long long getNecessarySpaceDir(const char *srcFolder, const char *dstFolder)
{
    (void)srcFolder;
    (void)dstFolder;
    return 0;
}

unsigned long long getFreeSpaceDrive(unsigned short driveIndex)
{
    (void)driveIndex;
    return 4294967295ULL;
}

unsigned long GetFileSizeByFilename(const char *path)
{
    (void)path;
    return 0;
}
