#include "exec/replacedst.h"

#include <string.h>

namespace {

const char kPlaceholder[] = "%DSTPATH%";
const size_t kPlaceholderLen = sizeof(kPlaceholder) - 1;

// '%' is below 0x40, so it is never a trail byte: a byte match starting with
// it is a match of whole characters.
char *NextPlaceholder(char *from)
{
    return strstr(from, kPlaceholder);
}

// 1 when every replacement fits in size bytes. Each step keeps the length
// below size, so nothing can wrap.
int ResultFits(char *text, size_t size, size_t insertLen)
{
    size_t len = strlen(text);
    for (char *hit = NextPlaceholder(text); hit; hit = NextPlaceholder(hit + kPlaceholderLen)) {
        len = len - kPlaceholderLen + insertLen;
        if (len >= size)
            return 0;
    }
    return 1;
}

} // namespace

int ReplacePlaceholder(char *text, size_t size, const char *insert)
{
    size_t insertLen = strlen(insert);
    if (!ResultFits(text, size, insertLen))
        return 0;
    for (char *hit = NextPlaceholder(text); hit; hit = NextPlaceholder(hit + insertLen)) {
        memmove(hit + insertLen, hit + kPlaceholderLen, strlen(hit + kPlaceholderLen) + 1);
        memcpy(hit, insert, insertLen);
    }
    return 1;
}

int HasPlaceholder(const char *text)
{
    return strstr(text, kPlaceholder) != nullptr;
}
