// "%DSTPATH%" replacement. Input: one byte for the buffer's spare room, the
// inserted path up to a line feed, then the text.
#include "exec/replacedst.h"

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

// Every placeholder of the original text, left to right, each replaced once:
// what an insertion brings is never looked at again.
std::string Expected(const std::string &text, const std::string &insert)
{
    static const std::string placeholder = "%DSTPATH%";
    std::string out;
    size_t from = 0;
    for (size_t hit; (hit = text.find(placeholder, from)) != std::string::npos; from = hit + placeholder.size())
        out += text.substr(from, hit - from) + insert;
    return out + text.substr(from);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    std::string rest((const char *)data + 1, strnlen((const char *)data + 1, size - 1));
    size_t feed = rest.find('\n');
    if (feed == std::string::npos)
        return 0;
    std::string insert = rest.substr(0, feed);
    std::string text = rest.substr(feed + 1);
    // The buffer holds the text and a spare room of 0 to 255 bytes, exactly,
    // so that the sanitizer sees any write past it.
    size_t bufferSize = text.size() + 1 + data[0];
    char *buffer = (char *)malloc(bufferSize);
    memcpy(buffer, text.c_str(), text.size() + 1);

    std::string expected = Expected(text, insert);
    int fits = ReplacePlaceholder(buffer, bufferSize, insert.c_str());
    Require(fits == (expected.size() < bufferSize));
    // Replaced as expected, or left as it was.
    Require(std::string(buffer) == (fits ? expected : text));
    free(buffer);
    return 0;
}
