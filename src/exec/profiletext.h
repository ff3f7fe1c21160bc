// The application's settings file as text, read and changed the way the
// system's profile functions read and write it, so that the updater can work
// on bytes it read through a handle of its own instead of on a name. Lines
// end in LF or CR LF; sections are "[name]" lines; keys are "key=value"
// lines; names are compared without regard to ASCII letter case; blanks
// around names and values are not part of them; the first section and the
// first key of a name count.
#pragma once

#include <stddef.h>

// The value of key in section as the profile reader gives it (blanks around
// it and one pair of enclosing quotes dropped): where it starts in text and
// its length. 0 when the file has no such key.
int ProfileFindValue(const char *text, size_t length, const char *section, const char *key, size_t *at,
                     size_t *valueLength);

// text with key in section set to value, everything else kept byte for byte:
// the key's line takes the new value, or a new line is added at the end of
// the section, or the section at the end of the text. Heap (free), its
// length in *newLength; null when out of memory.
char *ProfileSetValue(const char *text, size_t length, const char *section, const char *key, const char *value,
                      size_t *newLength);
