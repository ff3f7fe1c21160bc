// The directory levels of a path, outermost first, as prefixes of the path
// that end before each backslash (the last one is the whole path). Backslashes
// are found character by character in code page 932, so the trail byte 0x5C
// of a double-byte character never splits a name.
#pragma once

#include <stddef.h>

struct DirLevels {
    const char *path;
    const char *next;  // where the next backslash is looked for; null when done
    int index;         // levels handed out so far
    int network;       // the path starts with two backslashes
};

void DirLevelsStart(DirLevels *levels, const char *path);
// Copies the next level into prefix (size bytes). 1 = a level, 0 = no more,
// -1 = the level does not fit in size bytes (the walk ends there).
int DirLevelsNext(DirLevels *levels, char *prefix, size_t size);
// The level just handed out is the server or the share of a network path:
// neither can be created, and a server cannot be listed.
int DirLevelIsNetworkRoot(const DirLevels *levels);
