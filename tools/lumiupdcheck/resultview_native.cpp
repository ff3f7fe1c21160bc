#include "resultview.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

namespace {

// Deeper than any record the updater writes; keeps a hostile file from
// exhausting the stack.
const int MAX_DEPTH = 32;

struct Reader {
    const char *p, *end;
    FILE *out;
};

void SkipBlanks(Reader *r)
{
    while (r->p < r->end && (*r->p == ' ' || *r->p == '\t' || *r->p == '\r' || *r->p == '\n'))
        r->p++;
}

int Take(Reader *r, char c)
{
    SkipBlanks(r);
    if (r->p < r->end && *r->p == c) {
        r->p++;
        return 1;
    }
    return 0;
}

void Indent(FILE *out, int depth)
{
    for (int i = 0; i < depth; i++)
        fputs("  ", out);
}

void PutUtf8(FILE *out, unsigned long code)
{
    if (code < 0x80) {
        fputc((int)code, out);
    } else if (code < 0x800) {
        fputc((int)(0xC0 | (code >> 6)), out);
        fputc((int)(0x80 | (code & 0x3F)), out);
    } else if (code < 0x10000) {
        fputc((int)(0xE0 | (code >> 12)), out);
        fputc((int)(0x80 | ((code >> 6) & 0x3F)), out);
        fputc((int)(0x80 | (code & 0x3F)), out);
    } else {
        fputc((int)(0xF0 | (code >> 18)), out);
        fputc((int)(0x80 | ((code >> 12) & 0x3F)), out);
        fputc((int)(0x80 | ((code >> 6) & 0x3F)), out);
        fputc((int)(0x80 | (code & 0x3F)), out);
    }
}

int Hex4(Reader *r, unsigned long *code)
{
    *code = 0;
    for (int i = 0; i < 4; i++, r->p++) {
        if (r->p >= r->end || !isxdigit((unsigned char)*r->p))
            return 0;
        *code = *code * 16 + (unsigned long)(isdigit((unsigned char)*r->p) ? *r->p - '0' : (*r->p | 0x20) - 'a' + 10);
    }
    return 1;
}

int Escape(Reader *r, unsigned long *code)
{
    if (r->p >= r->end)
        return 0;
    char c = *r->p++;
    const char *from = "\"\\/bfnrt", *to = "\"\\/\b\f\n\r\t";
    const char *at = strchr(from, c);
    if (c && at) {
        *code = (unsigned char)to[at - from];
        return 1;
    }
    if (c != 'u' || !Hex4(r, code))
        return 0;
    unsigned long low = 0;
    if (*code >= 0xD800 && *code < 0xDC00 && r->end - r->p >= 6 && r->p[0] == '\\' && r->p[1] == 'u') {
        r->p += 2;
        if (!Hex4(r, &low) || low < 0xDC00 || low > 0xDFFF)
            return 0;
        *code = 0x10000 + ((*code - 0xD800) << 10) + (low - 0xDC00);
    }
    return 1;
}

// A string's text; a line break in it continues on a line of its own at
// depth, so that a box's text reads as the box showed it.
int String(Reader *r, int depth)
{
    if (!Take(r, '"'))
        return 0;
    while (r->p < r->end && *r->p != '"') {
        unsigned long code = (unsigned char)*r->p++;
        int escaped = code == '\\';
        if (code < 0x20 || (escaped && !Escape(r, &code)))
            return 0;
        // The file's own UTF-8 goes out byte by byte as it is.
        if (!escaped && code >= 0x80) {
            fputc((int)code, r->out);
        } else if (code == '\n') {
            fputc('\n', r->out);
            Indent(r->out, depth);
        } else if (code != '\r') {
            PutUtf8(r->out, code);
        }
    }
    return Take(r, '"');
}

int Value(Reader *r, int depth, int inList);

// The members of an object, one "name: value" line each; the first one on
// the line already begun when the object is an entry of a list.
int Object(Reader *r, int depth, int inList)
{
    if (Take(r, '}'))
        return fputs(inList ? "{}\n" : " {}\n", r->out), 1;
    if (!inList)
        fputc('\n', r->out);
    for (int first = 1;; first = 0) {
        if (!first || !inList)
            Indent(r->out, depth);
        if (!String(r, depth + 1) || !Take(r, ':'))
            return 0;
        fputc(':', r->out);
        if (!Value(r, depth + 1, 0))
            return 0;
        if (Take(r, '}'))
            return 1;
        if (!Take(r, ','))
            return 0;
    }
}

int List(Reader *r, int depth)
{
    if (Take(r, ']'))
        return fputs(" (none)\n", r->out), 1;
    fputc('\n', r->out);
    for (;;) {
        Indent(r->out, depth);
        fputs("- ", r->out);
        SkipBlanks(r);
        if (!Value(r, depth + 1, 1))
            return 0;
        if (Take(r, ']'))
            return 1;
        if (!Take(r, ','))
            return 0;
    }
}

// A scalar as it is written (numbers, true, false, null).
int Word(Reader *r)
{
    const char *start = r->p;
    while (r->p < r->end && *r->p && strchr("+-.0123456789eEtruefalsn", *r->p))
        r->p++;
    if (r->p == start)
        return 0;
    fwrite(start, 1, (size_t)(r->p - start), r->out);
    fputc('\n', r->out);
    return 1;
}

int Value(Reader *r, int depth, int inList)
{
    if (depth > MAX_DEPTH)
        return 0;
    SkipBlanks(r);
    if (!inList && (r->p >= r->end || (*r->p != '{' && *r->p != '[')))
        fputc(' ', r->out);
    if (Take(r, '{'))
        return Object(r, depth, inList);
    if (Take(r, '['))
        return List(r, depth);
    if (r->p < r->end && *r->p == '"') {
        if (!String(r, depth))
            return 0;
        fputc('\n', r->out);
        return 1;
    }
    return Word(r);
}

int ShowJson(const char *text, size_t length, FILE *out)
{
    Reader r = {text, text + length, out};
    if (!Take(&r, '{') || !Object(&r, 0, 1)) {
        fprintf(out, "\nerror: not a result file: it stops making sense at byte %ld\n", (long)(r.p - text));
        return 1;
    }
    return 0;
}

} // namespace

int ShowResultFile(const char *path, FILE *out)
{
    FILE *file = fopen(path, "rb");
    if (!file) {
        fprintf(stderr, "%s: error: cannot be read\n", path);
        return 2;
    }
    char *text = nullptr;
    size_t length = 0, size = 0;
    for (;;) {
        if (length == size) {
            char *grown = (char *)realloc(text, size = size * 2 + 4096);
            if (!grown)
                break;
            text = grown;
        }
        size_t got = fread(text + length, 1, size - length, file);
        if (got == 0)
            break;
        length += got;
    }
    fclose(file);
    size_t start = 0;
    while (start < length && text[start] && strchr(" \t\r\n", text[start]))
        start++;
    int result = 0;
    if (start < length && text[start] == '{')
        result = ShowJson(text + start, length - start, out);
    else if (length)
        fwrite(text, 1, length, out);
    free(text);
    return result;
}
