// Refuses to start when a destination's drive lacks room for the update folder.
#pragma once

#include "base/ptrlist.h"

int checkSpace(const PtrList *dsts, const char *srcFolder);
long long getNecessarySpaceDir(const char *srcFolder, const char *dstFolder);
unsigned long long getFreeSpaceDrive(unsigned short driveIndex);
unsigned long GetFileSizeByFilename(const char *path);
