#include "exec/shortcutname.h"

#include "base/mbcs.h"
#include "base/strutil.h"

#include <string.h>

const char *ShortcutNameOf(const char *path)
{
    const char *slash = MbsRChr(path, '\\');
    return slash ? slash + 1 : nullptr;
}

int IsValidShortcutName(const char *name)
{
    static const char forbidden[] = "\\/:*\"<>.|?";
    for (const unsigned char *p = (const unsigned char *)name; *p; p++) {
        if (MbIsLeadByte(*p)) {
            // A lead byte with nothing after it would pair with the "."
            // of ".lnk" into another character: no name to accept.
            if (!p[1])
                return 0;
            p++;
            continue;
        }
        if (strchr(forbidden, *p))
            return 0;
    }
    return 1;
}
