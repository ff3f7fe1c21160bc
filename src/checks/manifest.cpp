#include "checks/manifest.h"

#include "base/mbcs.h"
#include "base/strutil.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char FIRST_LINE[] = "LUMIUPD-MANIFEST 2";
enum { HEX_DIGITS = 2 * SHA256_BYTES, SIZE_DIGITS_MOST = 19, FIRST_FILE_LINE = 5 };

struct Line {
    const char *text;
    size_t length;
    int number;
};

int Fail(ManifestFault *fault, int line, const char *what)
{
    fault->line = line;
    fault->what = what;
    return 0;
}

int IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

int StartsWith(const Line &line, const char *prefix)
{
    size_t n = strlen(prefix);
    return line.length >= n && memcmp(line.text, prefix, n) == 0;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// HEX_DIGITS lower-case hex digits into a digest.
int ReadDigest(const char *text, unsigned char *digest)
{
    for (int i = 0; i < SHA256_BYTES; i++) {
        int high = HexValue(text[2 * i]), low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return 0;
        digest[i] = (unsigned char)(high * 16 + low);
    }
    return 1;
}

// A segment of a path: at least one byte, and neither "." nor "..".
int IsPlainSegment(const char *segment, size_t length)
{
    return length > 0 && !(segment[0] == '.' && (length == 1 || (length == 2 && segment[1] == '.')));
}

// Null when path (length bytes) is plain and relative, else what is wrong.
const char *PathFault(const char *path, size_t length)
{
    if (length == 0 || length >= MAX_PATH_BYTES)
        return "a path that is empty or longer than a path can be";
    size_t segment = 0;
    for (size_t i = 0; i <= length; i++) {
        unsigned char c = i < length ? (unsigned char)path[i] : '\\';
        if (c == '\\') {
            if (!IsPlainSegment(path + segment, i - segment))
                return "a path with an empty, \".\" or \"..\" part, or a leading or trailing backslash";
            segment = i + 1;
        } else if (IsControl(c) || c == '/' || c == ':') {
            return "a path with \"/\", \":\" or a control character";
        } else if (MbIsLeadByte(c)) {
            if (i + 1 >= length || (unsigned char)path[i + 1] < 0x40 || path[i + 1] == 0x7F)
                return "a path with half a character";
            i++;
        }
    }
    return nullptr;
}

// "<hex> <size> <path>" (after "file=") into file.
int TakeFileLine(const Line &line, ManifestFile *file, ManifestFault *fault)
{
    const char *p = line.text + 5;
    size_t rest = line.length - 5;
    if (rest < HEX_DIGITS + 4 || p[HEX_DIGITS] != ' ' || !ReadDigest(p, file->sha256))
        return Fail(fault, line.number, "file= without 64 lower-case hex digits and a space");
    size_t at = HEX_DIGITS + 1, digits = 0;
    unsigned long long size = 0;
    for (; at < rest && p[at] >= '0' && p[at] <= '9' && digits < SIZE_DIGITS_MOST; at++, digits++)
        size = size * 10 + (unsigned long long)(p[at] - '0');
    if (digits == 0 || (digits > 1 && p[HEX_DIGITS + 1] == '0') || at >= rest || p[at] != ' ')
        return Fail(fault, line.number, "file= without a size in decimal digits and a space");
    const char *why = PathFault(p + at + 1, rest - at - 1);
    if (why)
        return Fail(fault, line.number, why);
    file->size = size;
    file->path = (char *)malloc(rest - at);
    if (!file->path)
        return Fail(fault, line.number, "out of memory");
    memcpy(file->path, p + at + 1, rest - at - 1);
    file->path[rest - at - 1] = '\0';
    return 1;
}

int IsUtcStamp(const char *text, size_t length)
{
    const char *shape = "dddd-dd-ddTdd:dd:ddZ";
    if (length != strlen(shape))
        return 0;
    for (size_t i = 0; shape[i]; i++) {
        if (shape[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != shape[i])
            return 0;
    }
    return 1;
}

int TakeId(const Line &line, Manifest *manifest, ManifestFault *fault)
{
    size_t length = line.length - 3;
    if (!StartsWith(line, "id=") || length == 0 || length > MANIFEST_ID_MOST)
        return Fail(fault, line.number, "not id= with 1 to 259 bytes");
    for (size_t i = 0; i < length; i++)
        if (IsControl((unsigned char)line.text[3 + i]))
            return Fail(fault, line.number, "a control character in the id");
    memcpy(manifest->id, line.text + 3, length);
    manifest->id[length] = '\0';
    return 1;
}

// The lines before the files.
int TakeHead(const Line &line, Manifest *manifest, ManifestFault *fault)
{
    switch (line.number) {
    case 1:
        return (line.length == strlen(FIRST_LINE) && StartsWith(line, FIRST_LINE)) ||
               Fail(fault, 1, "not \"LUMIUPD-MANIFEST 2\"");
    case 2:
        return TakeId(line, manifest, fault);
    case 3:
        return (StartsWith(line, "created=") && IsUtcStamp(line.text + 8, line.length - 8)) ||
               Fail(fault, 3, "not created=YYYY-MM-DDTHH:MM:SSZ");
    default:
        return (line.length == 8 + HEX_DIGITS && StartsWith(line, "updater=") &&
                ReadDigest(line.text + 8, manifest->updater)) ||
               Fail(fault, 4, "not updater= with 64 lower-case hex digits");
    }
}

int TakeLine(const Line &line, Manifest *manifest, const char *scriptName, ManifestFault *fault)
{
    if (line.number < FIRST_FILE_LINE)
        return TakeHead(line, manifest, fault);
    if (!StartsWith(line, "file="))
        return Fail(fault, line.number, "not file=");
    ManifestFile *file = &manifest->files[manifest->count];
    if (!TakeFileLine(line, file, fault))
        return 0;
    manifest->count++;
    // The script comes first, under the name the updater reads it by.
    if (manifest->count == 1 && AsciiStricmp(file->path, scriptName) != 0)
        return Fail(fault, line.number, "the first file is not the updater's script");
    return 1;
}

int ComparePaths(const void *a, const void *b)
{
    return AsciiStricmp((*(const ManifestFile *const *)a)->path, (*(const ManifestFile *const *)b)->path);
}

// No two paths alike ignoring ASCII letter case: sorted, alike ones meet.
int CheckUnique(const Manifest *manifest, ManifestFault *fault)
{
    const ManifestFile **order = (const ManifestFile **)calloc((size_t)manifest->count, sizeof(ManifestFile *));
    if (!order)
        return Fail(fault, 0, "out of memory");
    for (int i = 0; i < manifest->count; i++)
        order[i] = &manifest->files[i];
    qsort(order, (size_t)manifest->count, sizeof(ManifestFile *), ComparePaths);
    int later = -1;
    for (int i = 1; i < manifest->count; i++) {
        if (AsciiStricmp(order[i - 1]->path, order[i]->path) != 0)
            continue;
        int at = (int)((order[i - 1] > order[i] ? order[i - 1] : order[i]) - manifest->files);
        if (later < 0 || at < later)
            later = at;
    }
    free(order);
    return later < 0 || Fail(fault, FIRST_FILE_LINE + later, "a path listed twice (ASCII letter case ignored)");
}

int ParseLines(const char *text, size_t length, const char *scriptName, Manifest *manifest, ManifestFault *fault)
{
    Line line = {text, 0, 0};
    for (size_t at = 0; at < length;) {
        const char *feed = (const char *)memchr(text + at, '\n', length - at);
        line.number++;
        if (!feed)
            return Fail(fault, line.number, "the last line does not end in a line feed");
        line.text = text + at;
        line.length = (size_t)(feed - line.text);
        if (memchr(line.text, '\0', line.length))
            return Fail(fault, line.number, "a zero byte");
        if (!TakeLine(line, manifest, scriptName, fault))
            return 0;
        at += line.length + 1;
    }
    if (manifest->count == 0)
        return Fail(fault, line.number + 1, "the manifest ends before its first file= line");
    return CheckUnique(manifest, fault);
}

} // namespace

int ParseManifest(const char *text, size_t length, const char *scriptName, Manifest *manifest, ManifestFault *fault)
{
    memset(manifest, 0, sizeof(*manifest));
    fault->line = 0;
    fault->what = nullptr;
    size_t lines = 0;
    for (size_t i = 0; i < length; i++)
        lines += text[i] == '\n';
    manifest->files = (ManifestFile *)calloc(lines + 1, sizeof(ManifestFile));
    if (!manifest->files)
        return Fail(fault, 0, "out of memory");
    if (ParseLines(text, length, scriptName, manifest, fault))
        return 1;
    FreeManifest(manifest);
    return 0;
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
    for (int i = 0; i < manifest->count; i++)
        if (AsciiStricmp(manifest->files[i].path, path) == 0)
            return &manifest->files[i];
    return nullptr;
}
