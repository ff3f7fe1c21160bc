#include "exec/journal.h"

#include "base/mbcs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char JOURNAL_HEADER[] = "Lumiupd journal 1\n";

namespace {

enum { ID_DIGITS = 24, CHECKSUM_DIGITS = 8, MAX_FIELDS = 6 };

unsigned long Checksum(const char *bytes, size_t length)
{
    unsigned long hash = 2166136261UL;
    for (size_t i = 0; i < length; i++) {
        hash ^= (unsigned char)bytes[i];
        hash = (hash * 16777619UL) & 0xFFFFFFFFUL;
    }
    return hash;
}

// The fields a kind carries after its letter, by where they go.
enum Field { F_TARGET, F_BACKUP, F_STAGED, F_OLD_COPY, F_OLD_ID, F_NEW_ID };

int FieldsOf(char kind, const Field **fields)
{
    static const Field put[] = {F_TARGET, F_BACKUP, F_STAGED, F_OLD_ID, F_NEW_ID};
    static const Field remove[] = {F_TARGET, F_BACKUP, F_OLD_ID};
    static const Field folder[] = {F_TARGET};
    static const Field write[] = {F_TARGET, F_STAGED, F_OLD_COPY, F_OLD_ID};
    switch (kind) {
    case JOURNAL_PUT:
        *fields = put;
        return 5;
    case JOURNAL_REMOVE:
        *fields = remove;
        return 3;
    case JOURNAL_FOLDER:
        *fields = folder;
        return 1;
    case JOURNAL_WRITE:
        *fields = write;
        return 4;
    case JOURNAL_COMPLETE:
        *fields = nullptr;
        return 0;
    default:
        return -1;
    }
}

// The name a field names in record (null for the ids).
char *NameOf(JournalRecord *record, Field field)
{
    switch (field) {
    case F_TARGET:
        return record->target;
    case F_BACKUP:
        return record->backup;
    case F_STAGED:
        return record->staged;
    case F_OLD_COPY:
        return record->oldCopy;
    default:
        return nullptr;
    }
}

FileId *IdOf(JournalRecord *record, Field field)
{
    return field == F_OLD_ID ? &record->oldId : field == F_NEW_ID ? &record->newId : nullptr;
}

// Which fields a kind cannot do without.
int IsRequired(char kind, Field field)
{
    if (field == F_TARGET)
        return 1;
    if (kind == JOURNAL_PUT)
        return field == F_STAGED || field == F_NEW_ID;
    if (kind == JOURNAL_REMOVE)
        return 1;
    return kind == JOURNAL_WRITE && (field == F_STAGED || field == F_OLD_ID);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// n upper-case hex digits exactly.
int ReadHex(const char *text, size_t length, size_t n, unsigned long long *value)
{
    if (length != n)
        return 0;
    *value = 0;
    for (size_t i = 0; i < n; i++) {
        int digit = HexValue(text[i]);
        if (digit < 0)
            return 0;
        *value = (*value << 4) | (unsigned)digit;
    }
    return 1;
}

int ReadId(const char *text, size_t length, FileId *id)
{
    unsigned long long serial = 0;
    id->serial = 0;
    id->index = 0;
    if (length == 0)
        return 1;
    if (length != ID_DIGITS || !ReadHex(text, 8, 8, &serial) || !ReadHex(text + 8, 16, 16, &id->index))
        return 0;
    id->serial = (unsigned long)serial;
    return HasFileId(id);
}

int ReadName(const char *text, size_t length, char *name)
{
    if (length >= MAX_PATH_BYTES)
        return 0;
    memcpy(name, text, length);
    name[length] = '\0';
    return length == 0 || IsJournalName(name);
}

int IsTrailByte(unsigned char c)
{
    return c >= 0x40 && c != 0x7F && c <= 0xFC;
}

int IsForbiddenByte(unsigned char c)
{
    return c < 0x20 || strchr("/:*?\"<>|", c) != nullptr;
}

// One component (from start, length bytes): not empty, not "." or "..",
// and not ending in a dot or a blank, which the system drops, so that
// one file had two names in a journal.
int IsComponent(const char *start, size_t length)
{
    if (length == 0 || (length == 1 && start[0] == '.') || (length == 2 && start[0] == '.' && start[1] == '.'))
        return 0;
    return start[length - 1] != '.' && start[length - 1] != ' ';
}

// Splits line (length bytes, without its line feed) into its fields.
int SplitFields(const char *line, size_t length, const char **starts, size_t *lengths, int capacity)
{
    int n = 0;
    size_t from = 0;
    for (size_t i = 0; i <= length; i++) {
        if (i < length && line[i] != '\t')
            continue;
        if (n == capacity)
            return -1;
        starts[n] = line + from;
        lengths[n++] = i - from;
        from = i + 1;
    }
    return n;
}

int ParseRecord(const char *line, size_t length, JournalRecord *record)
{
    const char *starts[MAX_FIELDS + 2];
    size_t lengths[MAX_FIELDS + 2];
    int n = SplitFields(line, length, starts, lengths, MAX_FIELDS + 2);
    const Field *fields = nullptr;
    unsigned long long sum = 0;
    if (n < 2 || lengths[0] != 1 || FieldsOf(starts[0][0], &fields) != n - 2 ||
        !ReadHex(starts[n - 1], lengths[n - 1], CHECKSUM_DIGITS, &sum) ||
        sum != Checksum(line, (size_t)(starts[n - 1] - 1 - line)))
        return 0;
    memset(record, 0, sizeof(*record));
    record->kind = starts[0][0];
    for (int i = 0; i < n - 2; i++) {
        char *name = NameOf(record, fields[i]);
        int ok = name ? ReadName(starts[i + 1], lengths[i + 1], name)
                      : ReadId(starts[i + 1], lengths[i + 1], IdOf(record, fields[i]));
        if (!ok || (IsRequired(record->kind, fields[i]) && lengths[i + 1] == 0))
            return 0;
    }
    return 1;
}

int AppendRecord(JournalRecord **records, size_t *count, size_t *capacity, const JournalRecord *record)
{
    if (*count == *capacity) {
        size_t grown = *capacity ? *capacity * 2 : 16;
        JournalRecord *bigger = (JournalRecord *)realloc(*records, grown * sizeof(JournalRecord));
        if (!bigger)
            return 0;
        *records = bigger;
        *capacity = grown;
    }
    (*records)[(*count)++] = *record;
    return 1;
}

int AppendField(char *line, size_t size, size_t *used, const char *text)
{
    size_t n = strlen(text);
    if (*used + n + 2 > size)
        return 0;
    line[(*used)++] = '\t';
    memcpy(line + *used, text, n);
    *used += n;
    line[*used] = '\0';
    return 1;
}

} // namespace

int HasFileId(const FileId *id)
{
    return id->serial != 0 || id->index != 0;
}

int SameFileId(const FileId *a, const FileId *b)
{
    return a->serial == b->serial && a->index == b->index;
}

int IsJournalName(const char *name)
{
    size_t length = strlen(name);
    if (length == 0 || length >= MAX_PATH_BYTES)
        return 0;
    const char *component = name;
    for (const unsigned char *p = (const unsigned char *)name;; p++) {
        if (*p == '\\' || *p == '\0') {
            if (!IsComponent(component, (size_t)((const char *)p - component)))
                return 0;
            if (*p == '\0')
                return 1;
            component = (const char *)p + 1;
        } else if (MbIsLeadByte(*p)) {
            // A trail byte may take any value from 0x40 up; a lead byte
            // before anything else is no character at all.
            if (!IsTrailByte(p[1]))
                return 0;
            p++;
        } else if (IsForbiddenByte(*p)) {
            return 0;
        }
    }
}

size_t FormatJournalRecord(const JournalRecord *record, char *line, size_t size)
{
    const Field *fields = nullptr;
    int n = FieldsOf(record->kind, &fields);
    if (n < 0 || size < 4)
        return 0;
    JournalRecord copy = *record;  // the accessors hand out places to write
    size_t used = 0;
    line[used++] = record->kind;
    line[used] = '\0';
    for (int i = 0; i < n; i++) {
        char *name = NameOf(&copy, fields[i]);
        char id[ID_DIGITS + 1] = "";
        const FileId *value = IdOf(&copy, fields[i]);
        if (value && HasFileId(value))
            snprintf(id, sizeof(id), "%08lX%016llX", value->serial & 0xFFFFFFFFUL, value->index);
        if ((name && name[0] && !IsJournalName(name)) || (IsRequired(record->kind, fields[i]) && !(name ? name[0] : id[0])))
            return 0;
        if (!AppendField(line, size, &used, name ? name : id))
            return 0;
    }
    char sum[CHECKSUM_DIGITS + 1];
    snprintf(sum, sizeof(sum), "%08lX", Checksum(line, used));
    if (!AppendField(line, size, &used, sum) || used + 2 > size)
        return 0;
    line[used++] = '\n';
    line[used] = '\0';
    return used;
}

int ReadJournal(const char *bytes, size_t length, JournalRecord **records, size_t *count)
{
    *records = nullptr;
    *count = 0;
    size_t header = sizeof(JOURNAL_HEADER) - 1;
    if (length < header || memcmp(bytes, JOURNAL_HEADER, header) != 0)
        return 0;
    size_t capacity = 0;
    JournalRecord record;
    for (size_t at = header; at < length;) {
        const char *end = (const char *)memchr(bytes + at, '\n', length - at);
        if (!end || !ParseRecord(bytes + at, (size_t)(end - (bytes + at)), &record))
            break;
        // Part of a journal is worse than none: an undo of some changes only.
        if (!AppendRecord(records, count, &capacity, &record)) {
            free(*records);
            *records = nullptr;
            *count = 0;
            return -1;
        }
        if (record.kind == JOURNAL_COMPLETE)
            break;
        at = (size_t)(end - bytes) + 1;
    }
    return 1;
}
