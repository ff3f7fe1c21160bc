#include "exec/historytext.h"

#include <stdlib.h>
#include <string.h>

void SplitComment(char *comment, char **first, char **second)
{
    *first = comment;
    // "/" lies below 0x40, so it is never the trail byte of a character.
    char *slash = strchr(comment, '/');
    if (slash) {
        *slash = '\0';
        *second = slash + 1;
    } else {
        *second = comment + strlen(comment);
    }
}

namespace {

struct Entry {
    const char *text;
    size_t len;
};

int IsKept(const Entry *kept, int count, const char *text, size_t len)
{
    for (int i = 0; i < count; i++) {
        if (kept[i].len == len && memcmp(kept[i].text, text, len) == 0)
            return 1;
    }
    return 0;
}

} // namespace

char *MergeInstalledIds(const char *oldValue, const char *id)
{
    size_t oldLen = strlen(oldValue);
    size_t idLen = strlen(id);
    // Kept entries with their commas never take more than the old text and
    // one comma for its last entry.
    char *out = (char *)malloc(oldLen + 1 + idLen + 1);
    if (!out)
        return nullptr;
    Entry kept[MAX_INSTALLED_KEPT];
    int count = 0;
    size_t used = 0;
    const char *p = oldValue;
    while (*p && count < MAX_INSTALLED_KEPT) {
        const char *comma = strchr(p, ',');
        size_t len = comma ? (size_t)(comma - p) : strlen(p);
        if (len && !IsKept(kept, count, p, len)) {
            kept[count].text = p;
            kept[count].len = len;
            count++;
            memcpy(out + used, p, len);
            used += len;
            out[used++] = ',';
        }
        p += len;
        if (*p == ',')
            p++;
    }
    memcpy(out + used, id, idLen + 1);
    return out;
}

int InstalledHasId(const char *value, const char *id)
{
    size_t idLen = strlen(id);
    for (const char *p = value; idLen;) {
        const char *comma = strchr(p, ',');
        size_t len = comma ? (size_t)(comma - p) : strlen(p);
        if (len == idLen && memcmp(p, id, len) == 0)
            return 1;
        if (!comma)
            return 0;
        p = comma + 1;
    }
    return 0;
}
