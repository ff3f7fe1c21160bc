#include "base/mbcs.h"
#include "base/strutil.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

// 1 when a character (not the trail byte of one) starts at offset in text.
int StartsCharacter(const char *text, size_t offset)
{
    size_t i = 0;
    while (i < offset && text[i])
        i += (MbIsLeadByte((unsigned char)text[i]) && text[i + 1]) ? 2 : 1;
    return i == offset;
}

} // namespace

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
    if (JoinPath(out, outSize, text, name)) {
        size_t outLen = strlen(out), nameLen = strlen(name);
        if (outLen >= outSize || outLen < nameLen || strcmp(out + outLen - nameLen, name) != 0)
            abort();
        // Between a folder and the name there is a backslash that is a
        // character of its own.
        size_t sep = outLen - nameLen - 1;
        if (text[0] && (outLen == nameLen || out[sep] != '\\' || !StartsCharacter(out, sep)))
            abort();
    }
    char *copy = (char *)malloc(len + 2 + 1);
    strcpy(copy, text);
    if (AddBackslash(copy, len + 3) && copy[0]) {
        const char *last = MbsLastChar(copy);
        if (!last || *last != '\\')
            abort();
    }
    MbsRChr(copy, '\\');
    free(copy);
    free(out);
    free(pieces);
    free(text);
    return 0;
}
