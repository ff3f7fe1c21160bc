#include "base/strutil.h"

#include "base/mbcs.h"

#include <stdlib.h>
#include <string.h>

int SplitInPlace(char *text, char **pieces, int capacity, char delim)
{
    if (!text)
        return 0;
    int count = 0;
    char *piece = text;
    for (;;) {
        if (count < capacity)
            pieces[count] = piece;
        count++;
        char *hit = strchr(piece, delim);
        if (!hit)
            return count;
        *hit = '\0';
        piece = hit + 1;
    }
}

namespace {

// A text cut after the first byte of a double-byte character (a script line
// can end so): a backslash put after it would become that character's second
// byte (0x83 0x5C is a katakana), and the separator would be lost.
int EndsInLoneLeadByte(const char *last)
{
    return last && MbIsLeadByte((unsigned char)last[0]) && !last[1];
}

} // namespace

int JoinPath(char *out, size_t outSize, const char *folder, const char *name)
{
    if (outSize == 0)
        return 0;
    out[0] = '\0';
    size_t folderLen = strlen(folder);
    const char *last = MbsLastChar(folder);
    if (EndsInLoneLeadByte(last))
        return 0;
    size_t sep = (last && *last != '\\') ? 1 : 0;
    size_t nameLen = strlen(name);
    if (folderLen + sep + nameLen + 1 > outSize)
        return 0;
    memcpy(out, folder, folderLen);
    if (sep)
        out[folderLen] = '\\';
    memcpy(out + folderLen + sep, name, nameLen + 1);
    return 1;
}

char *MbsChr(const char *s, unsigned char c)
{
    for (const unsigned char *p = (const unsigned char *)s; *p; p++) {
        if (MbIsLeadByte(*p)) {
            if (!p[1])
                return nullptr;
            p++;
            continue;
        }
        if (*p == c)
            return (char *)p;
    }
    return nullptr;
}

char *MbsRChr(const char *s, unsigned char c)
{
    char *found = nullptr;
    for (const unsigned char *p = (const unsigned char *)s; *p; p++) {
        if (MbIsLeadByte(*p)) {
            if (!p[1])
                break;
            p++;
            continue;
        }
        if (*p == c)
            found = (char *)p;
    }
    return found;
}

const char *MbsLastChar(const char *s)
{
    const char *last = nullptr;
    for (const unsigned char *p = (const unsigned char *)s; *p; p++) {
        last = (const char *)p;
        if (MbIsLeadByte(*p) && p[1])
            p++;
    }
    return last;
}

const char *PathLastComponent(const char *path)
{
    const char *start = path;
    const char *backslash = MbsRChr(path, '\\');
    if (backslash)
        start = backslash + 1;
    // A slash is below 0x40, never a trail byte: a byte search finds it.
    const char *slash = strrchr(start, '/');
    return slash ? slash + 1 : start;
}

int AddBackslash(char *s, size_t size)
{
    const char *last = MbsLastChar(s);
    if (!last || *last == '\\')
        return 1;
    if (EndsInLoneLeadByte(last))
        return 0;
    size_t len = strlen(s);
    if (len + 2 > size)
        return 0;
    s[len] = '\\';
    s[len + 1] = '\0';
    return 1;
}

int StrCopy(char *dst, size_t size, const char *src)
{
    if (size == 0)
        return 0;
    size_t len = strlen(src);
    if (len + 1 > size) {
        dst[0] = '\0';
        return 0;
    }
    memcpy(dst, src, len + 1);
    return 1;
}

int StrAppend(char *dst, size_t size, const char *src)
{
    size_t have = strnlen(dst, size);
    size_t len = strlen(src);
    if (have + len + 1 > size)
        return 0;
    memcpy(dst + have, src, len + 1);
    return 1;
}

static int FoldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

int AsciiStricmp(const char *a, const char *b)
{
    const unsigned char *p = (const unsigned char *)a;
    const unsigned char *q = (const unsigned char *)b;
    for (;; p++, q++) {
        int d = FoldAscii(*p) - FoldAscii(*q);
        if (d || !*p)
            return d;
    }
}

char *StrDup(const char *s)
{
    size_t len = strlen(s) + 1;
    char *copy = (char *)malloc(len);
    if (copy)
        memcpy(copy, s, len);
    return copy;
}
