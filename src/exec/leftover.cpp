#include "exec/leftover.h"

#include <stdio.h>
#include <string.h>

namespace {

int IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int SameAscii(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? (char)(a[i] + 32) : a[i];
        if (x != b[i])
            return 0;
    }
    return 1;
}

} // namespace

void LeftoverName(char *name, unsigned long pid)
{
    snprintf(name, LEFTOVER_NAME_BYTES, "~lu%08lX.tmp", pid & 0xFFFFFFFFul);
}

int IsLeftoverName(const char *name)
{
    if (strlen(name) != LEFTOVER_NAME_BYTES - 1 || !SameAscii(name, "~lu", 3) ||
        !SameAscii(name + 11, ".tmp", 4))
        return 0;
    for (int i = 3; i < 11; i++)
        if (!IsHexDigit(name[i]))
            return 0;
    return 1;
}
