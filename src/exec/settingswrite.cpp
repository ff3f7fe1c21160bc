#include "exec/settingswrite.h"

#include "base/strutil.h"
#include "exec/filereplace.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Beyond this a section is not compared, and the value is not written.
const DWORD MAX_BLOCK_READ = 1u << 22;

// A section's lines, or the section names (section null), whole: heap, free.
char *ReadBlock(const char *section, const char *file, DWORD *length)
{
    for (DWORD size = 4096; size <= MAX_BLOCK_READ; size *= 2) {
        char *block = (char *)malloc(size);
        if (!block)
            return nullptr;
        DWORD got = section ? GetPrivateProfileSectionA(section, block, size, file)
                            : GetPrivateProfileSectionNamesA(block, size, file);
        // size - 2 is also what a cut block gives: only less proves the end.
        if (got < size - 2) {
            *length = got;
            return block;
        }
        free(block);
    }
    return nullptr;
}

int IsKeyLine(const char *line, const char *key)
{
    const char *equals = strchr(line, '=');
    size_t len = equals ? (size_t)(equals - line) : strlen(line);
    while (len > 0 && (line[len - 1] == ' ' || line[len - 1] == '\t'))
        len--;
    char name[256];
    if (len >= sizeof(name))
        return 0;
    memcpy(name, line, len);
    name[len] = '\0';
    return AsciiStricmp(name, key) == 0;
}

// Drops the key's lines from a section block in place; the new length.
DWORD DropKey(char *block, DWORD length, const char *key)
{
    DWORD out = 0;
    for (DWORD at = 0; at < length;) {
        size_t n = strlen(block + at) + 1;
        if (!IsKeyLine(block + at, key)) {
            memmove(block + out, block + at, n);
            out += (DWORD)n;
        }
        at += (DWORD)n;
    }
    return out;
}

int SameSection(const char *name, const char *oldFile, const char *newFile, const char *section,
                const char *key)
{
    DWORD oldLength = 0, newLength = 0;
    char *before = ReadBlock(name, oldFile, &oldLength);
    char *after = ReadBlock(name, newFile, &newLength);
    int same = before && after;
    if (same && AsciiStricmp(name, section) == 0) {
        oldLength = DropKey(before, oldLength, key);
        newLength = DropKey(after, newLength, key);
    }
    same = same && oldLength == newLength && memcmp(before, after, oldLength) == 0;
    free(before);
    free(after);
    return same;
}

int HasValue(const char *file, const char *section, const char *key, const char *value)
{
    size_t len = strlen(value);
    char *read = (char *)malloc(len + 2);
    if (!read)
        return 0;
    DWORD got = GetPrivateProfileStringA(section, key, "", read, (DWORD)(len + 2), file);
    int same = got == len && memcmp(read, value, len) == 0;
    free(read);
    return same;
}

// The copy holds every section and line of the old file, the one value
// changed: a write that the disk cut short fails this.
int KeptEverything(const char *oldFile, const char *newFile, const char *section, const char *key,
                   const char *value)
{
    if (!HasValue(newFile, section, key, value))
        return 0;
    DWORD oldLength = 0, newLength = 0;
    char *oldNames = ReadBlock(nullptr, oldFile, &oldLength);
    char *newNames = ReadBlock(nullptr, newFile, &newLength);
    int same = oldNames && newNames;
    for (DWORD at = 0; same && at < oldLength; at += (DWORD)strlen(oldNames + at) + 1)
        same = SameSection(oldNames + at, oldFile, newFile, section, key);
    free(oldNames);
    free(newNames);
    return same;
}

} // namespace

int WriteSettingWhole(const char *path, const char *section, const char *key, const char *value)
{
    DWORD attrs = GetFileAttributesA(path);
    int exists = attrs != INVALID_FILE_ATTRIBUTES;
    if (exists && (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return 0;
    char temp[MAX_PATH_BYTES];
    if (!LeftoverPathFor(temp, sizeof(temp), path))
        return 0;
    // A leftover of an earlier process with this id must not become the base.
    SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(temp);
    int written = (!exists || CopyFileA(path, temp, FALSE)) &&
                  WritePrivateProfileStringA(section, key, value, temp) &&
                  (!exists || KeptEverything(path, temp, section, key, value)) &&
                  (exists || HasValue(temp, section, key, value));
    if (!written) {
        SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(temp);
        return 0;
    }
    return CommitFile(temp, path);
}
