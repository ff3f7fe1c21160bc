#include "exec/dirlevels.h"
#include "exec/filecmd.h"

#include "base/strutil.h"
#include "base/tracelog.h"

namespace {

enum { PATTERN_BYTES = 2 * MAX_PATH_BYTES };

int EnsureLevel(const DirLevels &levels, const char *prefix)
{
    char pattern[PATTERN_BYTES];
    // The prefix is below 260 bytes, so its pattern always fits.
    if (!JoinPath(pattern, sizeof(pattern), prefix, "*"))
        return 0;
    if (FindFile(pattern) || CreateDirectoryA(prefix, nullptr))
        return 1;
    // Whether a server and share exist shows at the first folder below them.
    if (DirLevelIsNetworkRoot(&levels))
        return 1;
    TracePrintf("\t\t\t\tFindFile( %s ) = %d\n", pattern, FindFile(pattern));
    TracePrintf("\t\t\t\tCreateDirectory( %s, NULL ) = %d\n", prefix,
                CreateDirectoryA(prefix, nullptr) ? 1 : 0);
    return 0;
}

} // namespace

int FindFile(const char *pattern)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return 1;
}

int CreateDirectoryAll(const char *path)
{
    TracePrintf("\t\t\t[%s]>>\n", "CreateDirectoryAll");
    int result = 1;
    DirLevels levels;
    DirLevelsStart(&levels, path);
    char prefix[MAX_PATH_BYTES];
    int got;
    while ((got = DirLevelsNext(&levels, prefix, sizeof(prefix))) == 1) {
        if (!EnsureLevel(levels, prefix)) {
            result = 0;
            break;
        }
    }
    // A level of 260 bytes or more cannot be a folder of this system's paths.
    if (got < 0)
        result = 0;
    TracePrintf("\t\t\t[%s(%d)]<<\n", "CreateDirectoryAll", result);
    return result;
}
