// The data-version gate's matching. Input: the 8 bytes of the data file's
// version field, then the patterns of one "target" value (split at ";").
#include "base/ptrlist.h"
#include "base/strutil.h"
#include "target/versiongate.h"

#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

namespace {

void Require(int condition)
{
    if (!condition)
        abort();
}

// Texts the C library reads as something other than a decimal number
// (hexadecimal, infinity, not-a-number); the gate reads those as 0 or as
// their leading decimal digits.
int ReadsBeyondDecimal(const char *text)
{
    while (isspace((unsigned char)*text))
        text++;
    if (*text == '+' || *text == '-')
        text++;
    return strncasecmp(text, "0x", 2) == 0 || strncasecmp(text, "inf", 3) == 0 || strncasecmp(text, "nan", 3) == 0;
}

// For a plain decimal text the gate's number is the C library's.
void CheckNumber(const char *text)
{
    double number = VersionNumber(text);
    Require(number == number);  // never not-a-number
    if (!ReadsBeyondDecimal(text))
        Require(number == strtod(text, nullptr));
}

char *Joined(const char *a, const char *b)
{
    size_t la = strlen(a), lb = strlen(b);
    char *out = (char *)malloc(la + lb + 1);
    memcpy(out, a, la);
    memcpy(out + la, b, lb + 1);
    return out;
}

void CheckPattern(const char *version, const char *pattern)
{
    CheckNumber(pattern);
    size_t len = strlen(pattern);
    // Both bounds through the same number hold together for every version:
    // the numbers are ordered, so at least one of them matches.
    if (len && pattern[0] != '-' && pattern[len - 1] != '-') {
        char *upper = Joined("-", pattern);
        char *lower = Joined(pattern, "-");
        Require(MatchVersionPattern(version, upper) || MatchVersionPattern(version, lower));
        free(upper);
        free(lower);
    }
    Require(MatchVersionPattern(version, ""));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    char version[9];
    memcpy(version, data, 8);
    version[8] = '\0';  // the field without terminator is all 8 bytes
    CheckNumber(version);

    size_t len = size - 8;
    char *value = (char *)malloc(len + 1);
    memcpy(value, data + 8, len);
    value[len] = '\0';
    char *pieces[16];
    int count = SplitInPlace(value, pieces, 16, ';');
    if (count > 16)
        count = 16;
    PtrList *targets = PtrListCreate();
    Require(targets != nullptr);
    Require(MatchVersion(version, targets) == 0);  // an empty list refuses
    int any = 0;
    for (int i = 0; i < count; i++) {
        CheckPattern(version, pieces[i]);
        any |= MatchVersionPattern(version, pieces[i]);
        Require(PtrListAppend(targets, pieces[i]) != nullptr);
    }
    Require(MatchVersion(version, targets) == any);
    while (!PtrListIsEmpty(targets))
        PtrListPopFront(targets);
    PtrListDestroy(targets);
    free(value);
    return 0;
}
