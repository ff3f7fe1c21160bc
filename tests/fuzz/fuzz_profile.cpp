// The settings file's text, read and changed as the profile functions do,
// in the ANSI code page and in UTF-8; and the 8-bit form of UTF-16, which
// must give back every unit it was made of.
// Input: the value, a line feed, the file's text.
#include "exec/profilecode.h"
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
const char kBlanks[] = " \t\v\f\x1a";

std::string AsRead(const std::string &value)
{
    size_t from = value.find_first_not_of(kBlanks);
    if (from == std::string::npos)
        return "";
    size_t to = value.find_last_not_of(kBlanks) + 1;
    std::string read = value.substr(from, to - from);
    if (read.size() > 1 && (read[0] == '"' || read[0] == '\'') && read.back() == read[0])
        read = read.substr(1, read.size() - 2);
    return read;
}

std::string Found(const char *text, size_t length, int leadBytes)
{
    size_t at = 0, n = 0;
    if (!ProfileFindValue(text, length, leadBytes, "MAIN", "INSTALLED", &at, &n))
        return "<absent>";
    Require(at + n <= length);
    Require(memchr(text + at, '\0', n) == nullptr);
    return std::string(text + at, n);
}

void CheckSet(const std::string &value, const std::string &text, int leadBytes)
{
    Found(text.data(), text.size(), leadBytes);
    size_t length = 0;
    char *changed = ProfileSetValue(text.data(), text.size(), leadBytes, "MAIN", "INSTALLED", value.c_str(), &length);
    Require(changed != nullptr);
    std::string out(changed, length);
    free(changed);
    // The value reads back as the reader takes it, and the old text is all
    // still there: only the old value's bytes gave way.
    Require(Found(out.data(), out.size(), leadBytes) == AsRead(value));
    size_t prefix = 0;
    while (prefix < text.size() && prefix < out.size() && text[prefix] == out[prefix])
        prefix++;
    size_t suffix = 0;
    while (suffix < text.size() - prefix && suffix < out.size() - prefix &&
           text[text.size() - 1 - suffix] == out[out.size() - 1 - suffix])
        suffix++;
    size_t removed = text.size() - prefix - suffix;
    size_t at = 0, oldLength = 0;
    size_t line = text.find_first_of("\r\n", prefix);
    Require(removed == 0 ||
            (ProfileFindValue(text.data(), text.size(), leadBytes, "MAIN", "INSTALLED", &at, &oldLength) &&
             (line == std::string::npos || prefix + removed <= line + 1)));
}

void CheckUtf16(const std::string &bytes)
{
    std::string even = bytes.substr(0, bytes.size() & ~(size_t)1);
    size_t n = 0, back = 0;
    char *eight = Utf16ToEight(even.data(), even.size(), &n);
    Require(eight != nullptr);
    // Structure stays ASCII: a byte below 0x80 is a unit below 0x80.
    char *units = EightToUtf16(eight, n, &back);
    Require(units != nullptr && std::string(units, back) == even);
    free(units);
    free(eight);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input((const char *)data, size);
    CheckUtf16(input);
    size_t feed = input.find('\n');
    // A value is one line of text: no line end and no zero byte in it.
    std::string value = input.substr(0, feed);
    if (value.find_first_of(std::string("\r\0", 2)) != std::string::npos)
        return 0;
    std::string text = feed == std::string::npos ? "" : input.substr(feed + 1);
    CheckSet(value, text, 1);
    CheckSet(value, text, 0);
    return 0;
}
