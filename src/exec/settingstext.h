// The settings file's text in the file's own encoding, as the profile
// functions read and write it: a file with a UTF-8 or a UTF-16 byte order
// mark is read and written in that encoding, its mark kept; any other in
// the ANSI code page. Values are found, merged and written in the file's
// encoding, so that nothing of an entry the ANSI code page cannot show is
// lost; only the update's id comes from the ANSI code page.
#pragma once

#include <stddef.h>

struct SettingsText {
    int encoding;            // ProfileEncoding
    char *body;              // heap: the text after the mark, UTF-16 in its 8-bit form
    size_t length;
    const char *mark;        // the byte order mark written back
    size_t markLength;
};

// 0 with ERROR_BAD_FORMAT for what the updater cannot write back as it was
// (big-endian UTF-16, which Windows does not read as such; UTF-16 of an odd
// length), or ERROR_NOT_ENOUGH_MEMORY.
int DecodeSettings(SettingsText *text, const char *bytes, size_t length);
void FreeSettingsText(SettingsText *text);

// The value of key in section, in the file's encoding (heap, free); empty
// when there is none; null when out of memory.
char *SettingsValueOf(const SettingsText *text, const char *section, const char *key);
// An ANSI text in the file's encoding, and back (heap, free; null when out
// of memory or not convertible).
char *SettingsFromAnsi(const SettingsText *text, const char *ansi);
char *SettingsToAnsi(const SettingsText *text, const char *value);
// The whole file's bytes with key in section set to value (in the file's
// encoding): the mark, then the changed text in the file's encoding. Heap
// (free), its length in *length; null when out of memory.
char *SettingsWithValue(const SettingsText *text, const char *section, const char *key, const char *value,
                        size_t *length);
