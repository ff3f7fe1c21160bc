#include "utf8out.h"

#include "base/mbcs.h"

#include <iconv.h>
#include <string.h>

namespace {

int Convert(const char *to, const char *from, const char *text, size_t length, char *out, size_t size)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1)
        return 0;
    char *in = (char *)text;
    size_t left = length, room = size;
    char *dst = out;
    size_t done = iconv(cd, &in, &left, &dst, &room);
    iconv_close(cd);
    if (done == (size_t)-1 || left != 0)
        return 0;
    return (int)(size - room);
}

int IsTrailByte(unsigned char c)
{
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

void WriteEscaped(const unsigned char *bytes, size_t count, FILE *out)
{
    for (size_t i = 0; i < count; i++)
        fprintf(out, "\\x%02x", bytes[i]);
}

// The length of the character at p (0: not a character of code page 932).
size_t CharacterLength(const unsigned char *p, size_t left)
{
    if (p[0] < 0x80 || (p[0] >= 0xA1 && p[0] <= 0xDF))
        return 1;
    if (MbIsLeadByte(p[0]) && left > 1 && IsTrailByte(p[1]))
        return 2;
    return 0;
}

} // namespace

int Cp932ToUtf8(const char *text, char *out, size_t size)
{
    int used = Convert("UTF-8", "CP932", text, strlen(text), out, size - 1);
    if (!used && text[0])
        return 0;
    out[used] = '\0';
    return 1;
}

int Utf8ToCp932(const char *text, char *out, size_t size)
{
    int used = Convert("CP932", "UTF-8", text, strlen(text), out, size - 1);
    if (!used && text[0])
        return 0;
    out[used] = '\0';
    return 1;
}

void WriteCp932AsUtf8(const char *bytes, size_t length, FILE *out)
{
    const unsigned char *p = (const unsigned char *)bytes;
    size_t i = 0;
    while (i < length) {
        size_t n = CharacterLength(p + i, length - i);
        char utf8[8];
        int used = 0;
        if (n == 1 && p[i] < 0x80)
            fputc(p[i], out);
        else if (n && (used = Convert("UTF-8", "CP932", (const char *)p + i, n, utf8, sizeof(utf8))) > 0)
            fwrite(utf8, 1, (size_t)used, out);
        else
            WriteEscaped(p + i, n ? n : 1, out);
        i += n ? n : 1;
    }
}
