// The journal of an all-or-nothing update: its reader on any bytes, and a
// record formatted from any names read back as it was.
// Input: a journal's bytes; or, when it does not start with the header, up
// to six lines taken as a record's kind, target, backup, staged, old copy
// and a byte that picks its ids.
#include "exec/journal.h"

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

int IsNameOrEmpty(const char *name)
{
    return name[0] == '\0' || IsJournalName(name);
}

// Every record read is the line it came from, formatted again; none
// follows a C record; every name it holds may stand in a journal.
void CheckRead(const std::string &bytes)
{
    JournalRecord *records = nullptr;
    size_t count = 0;
    int read = ReadJournal(bytes.data(), bytes.size(), &records, &count);
    Require(read == 1 || read == 0);
    Require(read == 1 || (count == 0 && records == nullptr));
    size_t at = strlen(JOURNAL_HEADER);
    for (size_t i = 0; i < count; i++) {
        const JournalRecord &r = records[i];
        Require(IsNameOrEmpty(r.target) && (r.target[0] || r.kind == JOURNAL_COMPLETE) && IsNameOrEmpty(r.backup) &&
                IsNameOrEmpty(r.staged) && IsNameOrEmpty(r.oldCopy));
        Require(r.kind != JOURNAL_COMPLETE || i + 1 == count);
        char line[JOURNAL_LINE_BYTES];
        size_t n = FormatJournalRecord(&r, line, sizeof(line));
        Require(n > 0 && at + n <= bytes.size() && memcmp(bytes.data() + at, line, n) == 0);
        at += n;
    }
    free(records);
}

void CheckRoundTrip(const std::string &input)
{
    std::vector<std::string> parts;
    size_t from = 0;
    while (parts.size() < 6) {
        size_t feed = input.find('\n', from);
        parts.push_back(input.substr(from, feed == std::string::npos ? std::string::npos : feed - from));
        if (feed == std::string::npos)
            break;
        from = feed + 1;
    }
    parts.resize(6);
    JournalRecord record;
    memset(&record, 0, sizeof(record));
    record.kind = parts[0].empty() ? 'P' : parts[0][0];
    char *names[] = {record.target, record.backup, record.staged, record.oldCopy};
    for (int i = 0; i < 4; i++) {
        if (parts[i + 1].size() >= MAX_PATH_BYTES || parts[i + 1].find('\0') != std::string::npos)
            return;
        strcpy(names[i], parts[i + 1].c_str());
    }
    unsigned pick = parts[5].empty() ? 0 : (unsigned char)parts[5][0];
    if (pick & 1)
        record.oldId = {0x1234ABCDUL, 0xFEDCBA9876543210ULL};
    if (pick & 2)
        record.newId = {pick, (unsigned long long)pick << 40};
    char line[JOURNAL_LINE_BYTES];
    size_t n = FormatJournalRecord(&record, line, sizeof(line));
    if (n == 0)
        return;
    std::string journal = std::string(JOURNAL_HEADER) + std::string(line, n);
    JournalRecord *records = nullptr;
    size_t count = 0;
    Require(ReadJournal(journal.data(), journal.size(), &records, &count) == 1 && count == 1);
    char again[JOURNAL_LINE_BYTES];
    Require(FormatJournalRecord(&records[0], again, sizeof(again)) == n && memcmp(again, line, n) == 0);
    free(records);
    // Cut anywhere before its line feed, the record is not there.
    for (size_t cut = strlen(JOURNAL_HEADER); cut < journal.size(); cut += 7) {
        Require(ReadJournal(journal.data(), cut, &records, &count) == 1 && count == 0);
        free(records);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string input((const char *)data, size);
    if (input.compare(0, strlen(JOURNAL_HEADER), JOURNAL_HEADER) == 0)
        CheckRead(input);
    else
        CheckRoundTrip(input);
    return 0;
}
