#include "target/versiongate.h"

#include <stdlib.h>
#include <string.h>

namespace {

enum { NUMBER_BUFFER = 260 };

int IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char *SkipDigits(const char *p)
{
    while (IsDigit(*p))
        p++;
    return p;
}

// The end of the decimal number that starts at text (text itself when none).
const char *DecimalEnd(const char *text)
{
    const char *p = text;
    if (*p == '+' || *p == '-')
        p++;
    const char *digits = p;
    p = SkipDigits(p);
    int wholeDigits = (int)(p - digits);
    int fractionDigits = 0;
    if (*p == '.') {
        const char *fraction = p + 1;
        const char *end = SkipDigits(fraction);
        fractionDigits = (int)(end - fraction);
        if (wholeDigits || fractionDigits)
            p = end;
    }
    if (!wholeDigits && !fractionDigits)
        return text;
    if (*p == 'e' || *p == 'E') {
        const char *exponent = p + 1;
        if (*exponent == '+' || *exponent == '-')
            exponent++;
        if (IsDigit(*exponent))
            p = SkipDigits(exponent);
    }
    return p;
}

} // namespace

double VersionNumber(const char *text)
{
    while (IsBlank(*text))
        text++;
    const char *end = DecimalEnd(text);
    if (end == text)
        return 0.0;
    // Only the decimal part is handed on, so that no runtime reads more into
    // it (hexadecimal, "inf") than the plain decimal reading does. Patterns
    // come from script lines, which are shorter than the buffer. atof, not
    // strtod: MinGW puts its own strtod in place of the runtime's.
    char number[NUMBER_BUFFER];
    size_t length = (size_t)(end - text);
    if (length >= sizeof(number))
        return atof(text);
    memcpy(number, text, length);
    number[length] = '\0';
    return atof(number);
}

int MatchVersionPattern(const char *version, const char *pattern)
{
    size_t length = strlen(pattern);
    if (pattern[0] == '-')
        return VersionNumber(version) <= VersionNumber(pattern + 1);
    if (length > 0 && pattern[length - 1] == '-')
        return VersionNumber(version) >= VersionNumber(pattern);
    return strncmp(version, pattern, length) == 0;
}

int MatchVersion(const char *version, const PtrList *targets)
{
    PtrNode *cursor = PtrListFirst(targets);
    while (cursor) {
        const char *pattern = (const char *)PtrListNextData(&cursor);
        if (MatchVersionPattern(version, pattern))
            return 1;
    }
    return 0;
}
