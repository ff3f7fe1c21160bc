#include "exec/profiletext.h"

#include "base/mbcs.h"

#include <stdlib.h>
#include <string.h>

namespace {

// One line of the text: [start, end) without its line end, next where the
// following line starts.
struct Line {
    size_t start, end, next;
};

int IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == 0x1A;
}

int IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

int NextLine(const char *text, size_t length, size_t from, Line *line)
{
    if (from >= length)
        return 0;
    size_t end = from;
    while (end < length && !IsLineEnd(text[end]))
        end++;
    line->start = from;
    line->end = end;
    line->next = end < length ? end + 1 : length;
    if (end + 1 < length && text[end] == '\r' && text[end + 1] == '\n')
        line->next++;
    return 1;
}

// A second byte of a double-byte character in code page 932.
int IsTrailByte(unsigned char c)
{
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// The last "]" of [from, to) that is a character of its own, or null.
const char *LastCloseBracket(const char *text, size_t from, size_t to, int leadBytes)
{
    const char *last = nullptr;
    for (size_t i = from; i < to; i++) {
        unsigned char c = (unsigned char)text[i];
        if (leadBytes && MbIsLeadByte(c) && i + 1 < to && IsTrailByte((unsigned char)text[i + 1]))
            i++;
        else if (c == ']')
            last = text + i;
    }
    return last;
}

// [*from, *to) without the blanks at either end.
void Trim(const char *text, size_t *from, size_t *to)
{
    while (*from < *to && IsBlank(text[*from]))
        (*from)++;
    while (*to > *from && IsBlank(text[*to - 1]))
        (*to)--;
}

// The profile functions keep names as strings: a zero byte ends one.
size_t UpToZero(const char *text, size_t from, size_t to)
{
    const char *zero = (const char *)memchr(text + from, '\0', to - from);
    return zero ? (size_t)(zero - text) : to;
}

int SameName(const char *text, size_t from, size_t to, const char *name)
{
    to = UpToZero(text, from, to);
    size_t n = strlen(name);
    if (to - from != n)
        return 0;
    for (size_t i = 0; i < n; i++) {
        char a = text[from + i], b = name[i];
        if (a >= 'A' && a <= 'Z')
            a = (char)(a + 32);
        if (b >= 'A' && b <= 'Z')
            b = (char)(b + 32);
        if (a != b)
            return 0;
    }
    return 1;
}

// The name of a section line, or 0 when the line is none.
int SectionName(const char *text, const Line &line, int leadBytes, size_t *from, size_t *to)
{
    size_t start = line.start, end = line.end;
    Trim(text, &start, &end);
    if (start == end || text[start] != '[')
        return 0;
    const char *close = LastCloseBracket(text, start + 1, end, leadBytes);
    if (!close)
        return 0;
    *from = start + 1;
    *to = (size_t)(close - text);
    Trim(text, from, to);
    return 1;
}

// The key of a key line (the whole line when it has no "="), and where its
// "=" is (its end when there is none).
void KeyOf(const char *text, const Line &line, size_t *from, size_t *to, size_t *equals)
{
    const char *sign = (const char *)memchr(text + line.start, '=', line.end - line.start);
    *equals = sign ? (size_t)(sign - text) : line.end;
    *from = line.start;
    *to = *equals;
    Trim(text, from, to);
}

// Where the section's lines run: the first line after its header, the end
// of its last line that is not blank (its header's end when it has none),
// and the key line when there is one. 0 when there is no such section.
struct Place {
    size_t body, lastEnd, lastNext;
    int hasKey;
    Line keyLine;
};

int FindPlace(const char *text, size_t length, int leadBytes, const char *section, const char *key, Place *place)
{
    size_t from = 0;
    Line line;
    int inside = 0, found = 0;
    for (; NextLine(text, length, from, &line); from = line.next) {
        size_t a, b, eq;
        if (SectionName(text, line, leadBytes, &a, &b)) {
            if (inside)
                return 1;
            if (!found && SameName(text, a, b, section)) {
                inside = found = 1;
                place->body = line.next;
                place->lastEnd = line.end;
                place->lastNext = line.next;
                place->hasKey = 0;
            }
            continue;
        }
        if (!inside)
            continue;
        size_t start = line.start, end = line.end;
        Trim(text, &start, &end);
        if (start == end)
            continue;
        // Every other line is one of the section's keys to the profile
        // functions, a comment or a line without a name too.
        place->lastEnd = line.end;
        place->lastNext = line.next;
        KeyOf(text, line, &a, &b, &eq);
        if (!place->hasKey && a != b && SameName(text, a, b, key)) {
            place->hasKey = 1;
            place->keyLine = line;
        }
    }
    return found;
}

// Builds the new text from three pieces: text up to cut, insert, text from resume.
char *Splice(const char *text, size_t length, size_t cut, const char *insert, size_t insertLength, size_t resume,
             size_t *newLength)
{
    size_t total = cut + insertLength + (length - resume);
    char *out = (char *)malloc(total + 1);
    if (!out)
        return nullptr;
    memcpy(out, text, cut);
    memcpy(out + cut, insert, insertLength);
    memcpy(out + cut + insertLength, text + resume, length - resume);
    out[total] = '\0';
    *newLength = total;
    return out;
}

// "prefix" + value + "suffix" on the heap.
char *Joined(const char *prefix, const char *value, const char *suffix, size_t *n)
{
    size_t a = strlen(prefix), b = strlen(value), c = strlen(suffix);
    char *out = (char *)malloc(a + b + c + 1);
    if (!out)
        return nullptr;
    memcpy(out, prefix, a);
    memcpy(out + a, value, b);
    memcpy(out + a + b, suffix, c + 1);
    *n = a + b + c;
    return out;
}

} // namespace

int ProfileFindValue(const char *text, size_t length, int leadBytes, const char *section, const char *key,
                     size_t *at, size_t *valueLength)
{
    Place place;
    if (!FindPlace(text, length, leadBytes, section, key, &place) || !place.hasKey)
        return 0;
    size_t a, b, eq;
    KeyOf(text, place.keyLine, &a, &b, &eq);
    size_t from = eq < place.keyLine.end ? eq + 1 : eq, to = place.keyLine.end;
    Trim(text, &from, &to);
    to = UpToZero(text, from, to);
    if (to - from > 1 && (text[from] == '"' || text[from] == '\'') && text[to - 1] == text[from]) {
        from++;
        to--;
    }
    *at = from;
    *valueLength = to - from;
    return 1;
}

char *ProfileSetValue(const char *text, size_t length, int leadBytes, const char *section, const char *key,
                      const char *value, size_t *newLength)
{
    Place place;
    size_t n = 0;
    char *piece = nullptr;
    char *out = nullptr;
    if (!FindPlace(text, length, leadBytes, section, key, &place)) {
        int needsEnd = length > 0 && !IsLineEnd(text[length - 1]);
        char *head = Joined(needsEnd ? "\r\n[" : "[", section, "]\r\n", &n);
        char *line = head ? Joined(key, "=", "", &n) : nullptr;
        char *tail = line ? Joined(head, line, value, &n) : nullptr;
        piece = tail ? Joined("", tail, "\r\n", &n) : nullptr;
        free(head);
        free(line);
        free(tail);
        out = piece ? Splice(text, length, length, piece, n, length, newLength) : nullptr;
    } else if (place.hasKey) {
        size_t a, b, eq;
        KeyOf(text, place.keyLine, &a, &b, &eq);
        // The key's own spelling stays; only what follows its "=" changes.
        piece = Joined(eq < place.keyLine.end ? "" : "=", value, "", &n);
        size_t cut = eq < place.keyLine.end ? eq + 1 : eq;
        out = piece ? Splice(text, length, cut, piece, n, place.keyLine.end, newLength) : nullptr;
    } else {
        // After the section's last line; a last line without its end gets one.
        int needsEnd = place.lastNext == 0 || !IsLineEnd(text[place.lastNext - 1]);
        char *line = Joined(needsEnd ? "\r\n" : "", key, "=", &n);
        piece = line ? Joined(line, value, "\r\n", &n) : nullptr;
        free(line);
        out = piece ? Splice(text, length, place.lastNext, piece, n, place.lastNext, newLength) : nullptr;
    }
    free(piece);
    return out;
}
