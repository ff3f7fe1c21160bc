// The shortcut name rules, character by character in code page 932. Input:
// a shortcut path as the script gives it.
#include "base/mbcs.h"
#include "exec/shortcutname.h"

#include <string>
#include <vector>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

void Require(bool condition)
{
    if (!condition)
        abort();
}

// The offsets at which the characters of text start; a lead byte at the
// very end stands alone.
std::vector<size_t> CharacterStarts(const std::string &text)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); i++) {
        starts.push_back(i);
        if (MbIsLeadByte((unsigned char)text[i]) && i + 1 < text.size())
            i++;
    }
    return starts;
}

// Whether name, once ".lnk" is put after it, is a file name with that
// extension and no other: no character of its own is one of the marks, and
// its last character is whole, so the "." stays a character of its own.
bool MakesALinkName(const std::string &name)
{
    std::string link = name + ".lnk";
    std::vector<size_t> starts = CharacterStarts(link);
    if (starts.size() < 4 || starts[starts.size() - 4] != name.size())
        return false;
    for (size_t i = 0; i + 4 < starts.size(); i++) {
        unsigned char c = (unsigned char)link[starts[i]];
        if (!MbIsLeadByte(c) && strchr("\\/:*\"<>.|?", c))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string path((const char *)data, strnlen((const char *)data, size));
    // The name is what follows the last backslash that is a character.
    size_t lastSlash = std::string::npos;
    for (size_t start : CharacterStarts(path)) {
        if (path[start] == '\\')
            lastSlash = start;
    }
    const char *name = ShortcutNameOf(path.c_str());
    if (lastSlash == std::string::npos) {
        Require(name == nullptr);
        return 0;
    }
    Require(name == path.c_str() + lastSlash + 1);
    Require((IsValidShortcutName(name) != 0) == MakesALinkName(name));
    return 0;
}
