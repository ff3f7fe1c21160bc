// String helpers for NUL-terminated ANSI (code page 932) strings.
// Searches for bytes below 0x40 may go byte by byte; anything from 0x40 up
// (the backslash above all) must step over double-byte characters, since a
// trail byte can take that value (ソ is 0x83 0x5C).
#pragma once

#include <stddef.h>

enum { MAX_PATH_BYTES = 260 };

// Cuts text in place at every delim and stores the start of each piece in
// pieces, at most capacity of them. Returns the number of pieces the text has
// (delimiters + 1, 0 for null), which may exceed capacity: the caller decides
// what more pieces than its table holds means. Never writes past pieces.
int SplitInPlace(char *text, char **pieces, int capacity, char delim);

// folder + backslash where needed + name into out. Returns 0 (out empty) when
// the result would not fit in outSize bytes.
int JoinPath(char *out, size_t outSize, const char *folder, const char *name);

// First / last occurrence of character c, stepping over double-byte characters.
char *MbsChr(const char *s, unsigned char c);
char *MbsRChr(const char *s, unsigned char c);
// The last character of s (its lead byte when double-byte), or null when empty.
const char *MbsLastChar(const char *s);

// The last component of a path: what follows its last backslash (a character
// of its own, not a trail byte) or its last slash; the whole text without either.
const char *PathLastComponent(const char *path);

// Appends a backslash unless s is empty or already ends in one (by characters).
// Returns 0, leaving s unchanged, when there is no room in size bytes.
int AddBackslash(char *s, size_t size);

// Bounded copy / append. On overflow dst is left empty (StrCopy) or unchanged
// (StrAppend) and the result is 0: a cut path is worse than none.
int StrCopy(char *dst, size_t size, const char *src);
int StrAppend(char *dst, size_t size, const char *src);

// Case-insensitive for ASCII letters only; every other byte compares exactly.
int AsciiStricmp(const char *a, const char *b);

// Heap copy owned by the caller (free); null when out of memory.
char *StrDup(const char *s);
