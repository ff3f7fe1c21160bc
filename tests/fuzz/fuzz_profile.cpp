// The settings file's text, read and changed as the profile functions do.
// Input: the value, a line feed, the file's text.
#include "exec/profiletext.h"

#include <string>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

void Require(bool condition)
{
    if (!condition)
        abort();
}

// What the profile reader gives for a value written as it is.
std::string AsRead(const std::string &value)
{
    size_t from = value.find_first_not_of(" \t");
    if (from == std::string::npos)
        return "";
    size_t to = value.find_last_not_of(" \t") + 1;
    std::string read = value.substr(from, to - from);
    if (read.size() > 1 && (read[0] == '"' || read[0] == '\'') && read.back() == read[0])
        read = read.substr(1, read.size() - 2);
    return read;
}

std::string Found(const char *text, size_t length)
{
    size_t at = 0, n = 0;
    if (!ProfileFindValue(text, length, "MAIN", "INSTALLED", &at, &n))
        return "<absent>";
    Require(at + n <= length);
    return std::string(text + at, n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input((const char *)data, size);
    size_t feed = input.find('\n');
    // A value is one line of text: no line end and no zero byte in it.
    std::string value = input.substr(0, feed);
    if (value.find_first_of(std::string("\r\0", 2)) != std::string::npos)
        return 0;
    std::string text = feed == std::string::npos ? "" : input.substr(feed + 1);
    Found(text.data(), text.size());

    size_t length = 0;
    char *changed = ProfileSetValue(text.data(), text.size(), "MAIN", "INSTALLED", value.c_str(), &length);
    Require(changed != nullptr);
    std::string out(changed, length);
    free(changed);
    // The value reads back as the reader takes it, and the old text is all
    // still there: only the old value's bytes gave way.
    Require(Found(out.data(), out.size()) == AsRead(value));
    size_t prefix = 0;
    while (prefix < text.size() && prefix < out.size() && text[prefix] == out[prefix])
        prefix++;
    size_t suffix = 0;
    while (suffix < text.size() - prefix && suffix < out.size() - prefix &&
           text[text.size() - 1 - suffix] == out[out.size() - 1 - suffix])
        suffix++;
    size_t removed = text.size() - prefix - suffix;
    size_t at = 0, oldLength = 0;
    size_t line = text.find('\n', prefix);
    Require(removed == 0 || (ProfileFindValue(text.data(), text.size(), "MAIN", "INSTALLED", &at, &oldLength) &&
                             (line == std::string::npos || prefix + removed <= line + 1)));
    return 0;
}
