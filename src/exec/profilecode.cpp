#include "exec/profilecode.h"

#include <stdlib.h>
#include <string.h>

int ProfileEncodingOf(const char *bytes, size_t length, size_t *markLength)
{
    const unsigned char *b = (const unsigned char *)bytes;
    *markLength = 0;
    if (length >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        *markLength = 3;
        return PROFILE_UTF8;
    }
    if (length >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        *markLength = 2;
        return b[0] == 0xFF ? PROFILE_UTF16LE : PROFILE_UTF16BE;
    }
    return PROFILE_ANSI;
}

char *Utf16ToEight(const char *bytes, size_t length, size_t *outLength)
{
    size_t units = length / 2;
    // Three bytes at most for each unit.
    char *out = units <= ((size_t)-1 - 1) / 3 ? (char *)malloc(units * 3 + 1) : nullptr;
    if (!out)
        return nullptr;
    const unsigned char *b = (const unsigned char *)bytes;
    size_t n = 0;
    for (size_t i = 0; i < units; i++) {
        unsigned u = b[2 * i] | ((unsigned)b[2 * i + 1] << 8);
        if (u < 0x80) {
            out[n++] = (char)u;
        } else if (u < 0x800) {
            out[n++] = (char)(0xC0 | (u >> 6));
            out[n++] = (char)(0x80 | (u & 0x3F));
        } else {
            out[n++] = (char)(0xE0 | (u >> 12));
            out[n++] = (char)(0x80 | ((u >> 6) & 0x3F));
            out[n++] = (char)(0x80 | (u & 0x3F));
        }
    }
    out[n] = '\0';
    *outLength = n;
    return out;
}

namespace {

// One unit from the sequence at t (left bytes), its length in *used; 0 when
// no unit turns into it.
int NextUnit(const unsigned char *t, size_t left, unsigned *unit, size_t *used)
{
    if (t[0] < 0x80) {
        *unit = t[0];
        *used = 1;
        return 1;
    }
    if ((t[0] & 0xE0) == 0xC0 && left >= 2 && (t[1] & 0xC0) == 0x80) {
        *unit = ((t[0] & 0x1Fu) << 6) | (t[1] & 0x3Fu);
        *used = 2;
        return *unit >= 0x80;
    }
    if ((t[0] & 0xF0) == 0xE0 && left >= 3 && (t[1] & 0xC0) == 0x80 && (t[2] & 0xC0) == 0x80) {
        *unit = ((t[0] & 0x0Fu) << 12) | ((t[1] & 0x3Fu) << 6) | (t[2] & 0x3Fu);
        *used = 3;
        return *unit >= 0x800;
    }
    return 0;
}

} // namespace

char *EightToUtf16(const char *text, size_t length, size_t *outLength)
{
    // Two bytes at most for each byte.
    char *out = length <= ((size_t)-1 - 2) / 2 ? (char *)malloc(length * 2 + 2) : nullptr;
    if (!out)
        return nullptr;
    const unsigned char *t = (const unsigned char *)text;
    size_t n = 0;
    for (size_t i = 0; i < length;) {
        unsigned unit = 0;
        size_t used = 0;
        if (!NextUnit(t + i, length - i, &unit, &used)) {
            free(out);
            return nullptr;
        }
        out[n++] = (char)(unit & 0xFF);
        out[n++] = (char)(unit >> 8);
        i += used;
    }
    *outLength = n;
    return out;
}
