#include "exec/dirlevels.h"

#include "base/strutil.h"

#include <string.h>

void DirLevelsStart(DirLevels *levels, const char *path)
{
    levels->path = path;
    levels->index = 0;
    levels->network = path[0] == '\\' && path[1] == '\\';
    // A network path's first level is its two backslashes with the server.
    levels->next = levels->network ? path + 2 : path;
}

int DirLevelsNext(DirLevels *levels, char *prefix, size_t size)
{
    if (!levels->next)
        return 0;
    const char *sep = MbsChr(levels->next, '\\');
    size_t len = sep ? (size_t)(sep - levels->path) : strlen(levels->path);
    if (len >= size) {
        levels->next = nullptr;
        return -1;
    }
    memcpy(prefix, levels->path, len);
    prefix[len] = '\0';
    levels->next = sep ? sep + 1 : nullptr;
    levels->index++;
    return 1;
}

int DirLevelIsNetworkRoot(const DirLevels *levels)
{
    return levels->network && levels->index <= 2;
}
