#include "checks/checkrules.h"

#include "base/strutil.h"

#include <string.h>

namespace {

const char *const kModuleExtensions[] = {".dll", ".exe"};

} // namespace

int TakeExtension(const char *name, char *ext, size_t size)
{
    if (size == 0)
        return 0;
    ext[0] = '\0';
    // The dot is below 0x40 too, so a plain search cannot land in a character.
    const char *dot = strrchr(PathLastComponent(name), '.');
    if (!dot)
        return 1;
    return StrCopy(ext, size, dot);
}

int IsModuleName(const char *name)
{
    int flag = 0;
    // Both comparisons are made, each on a fresh copy of the extension.
    for (const char *module : kModuleExtensions) {
        char ext[MAX_PATH_BYTES];
        TakeExtension(name, ext, sizeof(ext));
        if (AsciiStricmp(ext, module) == 0)
            flag = 1;
    }
    return flag;
}

unsigned short DriveIndexOf(const char *folder)
{
    unsigned char first = (unsigned char)folder[0];
    if (first >= 'a' && first <= 'z')
        first = (unsigned char)(first - ('a' - 'A'));
    return (unsigned short)(first - 'A');
}
