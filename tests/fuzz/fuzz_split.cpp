#include "base/strutil.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// Input: one delimiter byte, one capacity byte, then the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || data[0] == 0)
        return 0;
    char delim = (char)data[0];
    int capacity = data[1] % 20;
    size_t len = size - 2;
    char *text = (char *)malloc(len + 1);
    memcpy(text, data + 2, len);
    text[len] = '\0';
    char **pieces = (char **)malloc(sizeof(char *) * (capacity ? capacity : 1));
    int n = SplitInPlace(text, pieces, capacity, delim);
    if (n < 1)
        abort();
    for (int i = 0; i < n && i < capacity; i++)
        if (strchr(pieces[i], delim))
            abort();

    // JoinPath into a buffer of a size taken from the input: never past it.
    size_t outSize = 1 + (size % 64);
    char *out = (char *)malloc(outSize);
    const char *name = n > 1 && capacity > 1 ? pieces[1] : "*";
    if (JoinPath(out, outSize, text, name) && strlen(out) >= outSize)
        abort();
    char *copy = (char *)malloc(len + 2 + 1);
    strcpy(copy, text);
    AddBackslash(copy, len + 3);
    MbsRChr(copy, '\\');
    free(copy);
    free(out);
    free(pieces);
    free(text);
    return 0;
}
