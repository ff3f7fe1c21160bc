#include "scripttext.h"

#include "base/mbcs.h"
#include "base/strutil.h"

#include <string.h>

namespace {

const char DST_PATH[] = "%DSTPATH%";
enum { DST_PATH_LENGTH = sizeof(DST_PATH) - 1 };

int IsCp932Lead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

int IsCp932Trail(unsigned char c)
{
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

int IsCp932Single(unsigned char c)
{
    return c < 0x80 || (c >= 0xA1 && c <= 0xDF);
}

int MatchesIgnoringCase(const char *text, const char *word, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        char a = text[i], b = word[i];
        if (a >= 'a' && a <= 'z')
            a = (char)(a - 'a' + 'A');
        if (a != b)
            return 0;
    }
    return 1;
}

// Appends one segment (length bytes) to out, with a backslash before it when
// out is not empty.
int AppendSegment(char *out, size_t size, const char *segment, size_t length)
{
    size_t used = strlen(out);
    size_t needed = used + (used ? 1 : 0) + length + 1;
    if (needed > size)
        return 0;
    if (used)
        out[used++] = '\\';
    memcpy(out + used, segment, length);
    out[used + length] = '\0';
    return 1;
}

// Takes the last segment off out; 0 when there is none.
int DropSegment(char *out)
{
    if (!out[0])
        return 0;
    char *slash = MbsRChr(out, '\\');
    if (slash)
        *slash = '\0';
    else
        out[0] = '\0';
    return 1;
}

} // namespace

Cp932Fault ScanCp932(Cp932Scan *scan, const unsigned char *bytes, size_t length, size_t *at,
                     unsigned char *lead)
{
    for (size_t i = 0; i < length; i++) {
        unsigned char c = bytes[i];
        if (scan->pendingLead) {
            *lead = (unsigned char)scan->pendingLead;
            scan->pendingLead = 0;
            if (!IsCp932Trail(c)) {
                *at = i;
                return CP932_BAD_TRAIL;
            }
            continue;
        }
        if (IsCp932Lead(c)) {
            scan->pendingLead = c;
            continue;
        }
        if (!IsCp932Single(c)) {
            *at = i;
            *lead = 0;
            return CP932_BAD_BYTE;
        }
    }
    return CP932_VALID;
}

int HasMiscasedDstPath(const char *text)
{
    // "%" is below 0x40: a byte search cannot start inside a character.
    for (const char *p = strchr(text, '%'); p; p = strchr(p + 1, '%')) {
        if (strlen(p) >= DST_PATH_LENGTH && MatchesIgnoringCase(p, DST_PATH, DST_PATH_LENGTH) &&
            strncmp(p, DST_PATH, DST_PATH_LENGTH) != 0)
            return 1;
    }
    return 0;
}

int HasDstPath(const char *text)
{
    return strstr(text, DST_PATH) ? 1 : 0;
}

int CountByte(const char *text, char c)
{
    int count = 0;
    for (; *text; text++) {
        if (*text == c)
            count++;
    }
    return count;
}

int IsRelativeScriptPath(const char *path)
{
    if (path[0] == '\\')
        return 0;
    return (path[0] && !MbIsLeadByte((unsigned char)path[0]) && path[1] == ':') ? 0 : 1;
}

int NormalizeRelativePath(const char *path, char *out, size_t size)
{
    if (size == 0)
        return 0;
    out[0] = '\0';
    const char *segment = path;
    for (const char *p = path;; p++) {
        int end = *p == '\0' || *p == '\\' || *p == '/';
        if (!end) {
            if (MbIsLeadByte((unsigned char)*p) && p[1])
                p++;
            continue;
        }
        size_t length = (size_t)(p - segment);
        if (length == 2 && segment[0] == '.' && segment[1] == '.') {
            if (!DropSegment(out))
                return 0;
        } else if (length > 0 && !(length == 1 && segment[0] == '.')) {
            if (!AppendSegment(out, size, segment, length))
                return 0;
        }
        if (*p == '\0')
            return 1;
        segment = p + 1;
    }
}

int LooksLikeUtf8(const unsigned char *bytes, size_t length)
{
    int wide = 0;
    for (size_t i = 0; i < length;) {
        unsigned char c = bytes[i];
        size_t extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
        if (extra == 9 || (c >= 0x80 && c < 0xC2) || extra >= length - i)
            return 0;
        for (size_t k = 1; k <= extra; k++) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                return 0;
        }
        if (extra == 2)
            wide = 1;
        i += extra + 1;
    }
    return wide;
}
