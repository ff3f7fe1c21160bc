#include "exec/leftover.h"

#include <stdio.h>
#include <string.h>

namespace {

const char PREFIX[] = "~lu";
const char SUFFIX[] = ".tmp";
enum { PREFIX_LEN = 3, DIGITS = 16 };

int IsUpperHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

void LeftoverName(char *name, unsigned long high, unsigned long low)
{
    snprintf(name, LEFTOVER_NAME_BYTES, "%s%08lX%08lX%s", PREFIX, high & 0xFFFFFFFFul, low & 0xFFFFFFFFul,
             SUFFIX);
}

int IsLeftoverName(const char *name)
{
    if (strlen(name) != LEFTOVER_NAME_BYTES - 1 || memcmp(name, PREFIX, PREFIX_LEN) != 0 ||
        strcmp(name + PREFIX_LEN + DIGITS, SUFFIX) != 0)
        return 0;
    for (int i = PREFIX_LEN; i < PREFIX_LEN + DIGITS; i++)
        if (!IsUpperHexDigit(name[i]))
            return 0;
    return 1;
}
