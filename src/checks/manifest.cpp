#include "checks/manifest.h"

#include "base/strutil.h"

#include <stdlib.h>
#include <string.h>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "<hex> <size> <path>": the path to the end of the line.
int ParseFileLine(const char *line, size_t length, ManifestFile *file)
{
    if (length < 2 * SHA256_BYTES + 4 || line[2 * SHA256_BYTES] != ' ')
        return 0;
    for (int i = 0; i < SHA256_BYTES; i++) {
        int high = HexValue(line[2 * i]), low = HexValue(line[2 * i + 1]);
        if (high < 0 || low < 0)
            return 0;
        file->sha256[i] = (unsigned char)(high * 16 + low);
    }
    size_t at = 2 * SHA256_BYTES + 1;
    unsigned long long size = 0;
    size_t digits = 0;
    for (; at < length && line[at] >= '0' && line[at] <= '9' && digits < 19; at++, digits++)
        size = size * 10 + (unsigned long long)(line[at] - '0');
    if (digits == 0 || at >= length || line[at] != ' ' || at + 1 == length || length - at - 1 >= MAX_PATH_BYTES)
        return 0;
    file->size = size;
    size_t pathLength = length - at - 1;
    if (memchr(line + at + 1, '\0', pathLength))
        return 0;
    file->path = (char *)malloc(pathLength + 1);
    if (!file->path)
        return 0;
    memcpy(file->path, line + at + 1, pathLength);
    file->path[pathLength] = '\0';
    // "/" is below 0x40: never the second byte of a character.
    for (char *p = file->path; *p; p++)
        if (*p == '/')
            *p = '\\';
    return 1;
}

int StartsWith(const char *line, size_t length, const char *prefix)
{
    size_t n = strlen(prefix);
    return length >= n && memcmp(line, prefix, n) == 0;
}

int TakeLine(Manifest *manifest, const char *line, size_t length, int index)
{
    if (index == 0)
        return 1;  // the format line, the caller's to check
    if (index == 1 && StartsWith(line, length, "id=") && length - 3 < MANIFEST_ID_BYTES) {
        memcpy(manifest->id, line + 3, length - 3);
        manifest->id[length - 3] = '\0';
        return 1;
    }
    if (index == 2)
        return StartsWith(line, length, "created=");
    if (index < 3 || !StartsWith(line, length, "file="))
        return 0;
    ManifestFile *file = &manifest->files[manifest->count];
    if (!ParseFileLine(line + 5, length - 5, file))
        return 0;
    if (FindManifestFile(manifest, file->path)) {
        free(file->path);
        return 0;
    }
    manifest->count++;
    return 1;
}

} // namespace

int ParseManifest(const char *text, size_t length, Manifest *manifest)
{
    memset(manifest, 0, sizeof(*manifest));
    size_t lines = 0;
    for (size_t i = 0; i < length; i++)
        if (text[i] == '\n')
            lines++;
    manifest->files = (ManifestFile *)calloc(lines + 1, sizeof(ManifestFile));
    if (!manifest->files)
        return 0;
    int index = 0;
    for (size_t at = 0; at < length; index++) {
        const char *feed = (const char *)memchr(text + at, '\n', length - at);
        size_t end = feed ? (size_t)(feed - text) : length;
        if (!TakeLine(manifest, text + at, end - at, index)) {
            FreeManifest(manifest);
            return 0;
        }
        at = end + 1;
    }
    if (manifest->count == 0 || !manifest->id[0]) {
        FreeManifest(manifest);
        return 0;
    }
    return 1;
}

void FreeManifest(Manifest *manifest)
{
    for (int i = 0; i < manifest->count; i++)
        free(manifest->files[i].path);
    free(manifest->files);
    memset(manifest, 0, sizeof(*manifest));
}

const ManifestFile *FindManifestFile(const Manifest *manifest, const char *path)
{
    char wanted[MAX_PATH_BYTES];
    if (!StrCopy(wanted, sizeof(wanted), path))
        return nullptr;
    for (char *p = wanted; *p; p++)
        if (*p == '/')
            *p = '\\';
    for (int i = 0; i < manifest->count; i++)
        if (AsciiStricmp(manifest->files[i].path, wanted) == 0)
            return &manifest->files[i];
    return nullptr;
}
