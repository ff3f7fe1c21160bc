// The running updater's own image as the loader mapped it: where its
// manifest is read, never from the file on disk, which another process
// could rename and replace while it runs.
#pragma once

#include "checks/manifestimage.h"

// The executable's image in memory (headers and sections at their virtual
// addresses), SizeOfImage bytes. 0 when its headers cannot be read.
int OwnImage(PeBytes *image);
