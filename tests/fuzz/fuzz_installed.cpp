// The INSTALLED merge. Input: the old value, a line feed, the id.
#include "exec/historytext.h"

#include <set>
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

std::vector<std::string> Entries(const std::string &text)
{
    std::vector<std::string> entries;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        entries.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            return entries;
        start = comma + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Profile values hold no zero byte: the texts end at the first one.
    std::string input((const char *)data, strnlen((const char *)data, size));
    size_t feed = input.find('\n');
    std::string oldValue = input.substr(0, feed);
    std::string id = feed == std::string::npos ? "" : input.substr(feed + 1);

    char *merged = MergeInstalledIds(oldValue.c_str(), id.c_str());
    Require(merged != nullptr);
    std::string out = merged;
    free(merged);

    // The id comes last, after a comma unless nothing was kept.
    Require(out.size() >= id.size() && out.compare(out.size() - id.size(), id.size(), id) == 0);
    std::string kept = out.substr(0, out.size() - id.size());
    // What is kept: the old value's first distinct non-empty entries, in
    // their order, each once, at most MAX_INSTALLED_KEPT of them, each
    // followed by its comma.
    std::vector<std::string> expected;
    std::set<std::string> seen;
    for (const std::string &entry : Entries(oldValue)) {
        if ((int)expected.size() == MAX_INSTALLED_KEPT)
            break;
        if (!entry.empty() && seen.insert(entry).second)
            expected.push_back(entry);
    }
    std::string want;
    for (const std::string &entry : expected)
        want += entry + ",";
    Require(kept == want);
    return 0;
}
