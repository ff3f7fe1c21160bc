// The application's settings file as text, read and changed the way the
// system's profile functions read and write it, so that the updater can work
// on bytes it read through a handle of its own instead of on a name. A line
// ends at a CR, a LF or a CR LF; blanks (space, tab, VT, FF and the DOS end
// of file 0x1A) around a line, a name or a value are not part of it; a
// section line starts with "[" and its name runs to its last "]"; any other
// line is a key, up to its first "=", with its value after it; names are
// compared without regard to ASCII letter case, up to a zero byte; the first
// section and the first key of a name count.
//
// The text is the file's text after its byte order mark, in the file's own
// encoding: the ANSI code page (932), UTF-8, or UTF-16 in the 8-bit form of
// profilecode.h. Only in the ANSI code page can a "]" be the second byte of
// a double-byte character (leadBytes non-zero), which is then no "]".
#pragma once

#include <stddef.h>

// The value of key in section as the profile reader gives it (blanks around
// it and one pair of enclosing quotes dropped, up to a zero byte): where it
// starts in text and its length. 0 when the file has no such key.
int ProfileFindValue(const char *text, size_t length, int leadBytes, const char *section, const char *key,
                     size_t *at, size_t *valueLength);

// text with key in section set to value, everything else kept byte for byte:
// the key's line takes the new value, or a new line is added at the end of
// the section, or the section at the end of the text. Heap (free), its
// length in *newLength; null when out of memory.
char *ProfileSetValue(const char *text, size_t length, int leadBytes, const char *section, const char *key,
                      const char *value, size_t *newLength);
