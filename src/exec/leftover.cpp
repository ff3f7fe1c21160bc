#include "exec/leftover.h"

#include <stdio.h>
#include <string.h>

namespace {

const char PREFIX[] = "~lu";
const char *const SUFFIXES[] = {".tmp", ".bak", ".jnl"};
enum { PREFIX_LEN = 3, DIGITS = 16 };

int IsUpperHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

void LeftoverName(char *name, unsigned long high, unsigned long low)
{
    LeftoverNameOf(name, high, low, LEFTOVER_NEW);
}

int IsLeftoverName(const char *name)
{
    return IsLeftoverNameOf(name, LEFTOVER_NEW);
}

void LeftoverNameOf(char *name, unsigned long high, unsigned long low, LeftoverKind kind)
{
    snprintf(name, LEFTOVER_NAME_BYTES, "%s%08lX%08lX%s", PREFIX, high & 0xFFFFFFFFul, low & 0xFFFFFFFFul,
             SUFFIXES[kind]);
}

int IsLeftoverNameOf(const char *name, LeftoverKind kind)
{
    if (strlen(name) != LEFTOVER_NAME_BYTES - 1 || memcmp(name, PREFIX, PREFIX_LEN) != 0 ||
        strcmp(name + PREFIX_LEN + DIGITS, SUFFIXES[kind]) != 0)
        return 0;
    for (int i = PREFIX_LEN; i < PREFIX_LEN + DIGITS; i++)
        if (!IsUpperHexDigit(name[i]))
            return 0;
    return 1;
}
