#include "target/versiongate.h"

#include "base/runrecord.h"
#include "base/strutil.h"

#include <stdio.h>
#include <string.h>

namespace {

enum { DATA_VERSION_OFFSET = 72, DATA_VERSION_SIZE = 8 };

const char DATA_FILE_NAME[] = "RT_IDX.DAT";

} // namespace

// The DataVersion field as text (at most 8 bytes, cut at the first zero byte).
// A file that ends inside the field gives the bytes that are there.
int ReadDataVersion(const char *folder, char *version)
{
    char path[MAX_PATH_BYTES];
    if (!StrCopy(path, sizeof(path), folder) || !StrAppend(path, sizeof(path), DATA_FILE_NAME))
        return 0;
    FILE *file = fopen(path, "rb");
    if (!file)
        return 0;
    memset(version, 0, DATA_VERSION_SIZE + 1);
    if (fseek(file, DATA_VERSION_OFFSET, SEEK_SET) == 0)
        fread(version, 1, DATA_VERSION_SIZE, file);
    fclose(file);
    return 1;
}

int VersionGateEx(const char *folder, const PtrList *targets, int *versionRead)
{
    char version[DATA_VERSION_SIZE + 1];
    *versionRead = ReadDataVersion(folder, version);
    int accepted = *versionRead && MatchVersion(version, targets);
    RecordGate(folder, *versionRead ? version : nullptr, accepted);
    return accepted;
}

int VersionGate(const char *folder, const PtrList *targets)
{
    int versionRead = 0;
    return VersionGateEx(folder, targets, &versionRead);
}
