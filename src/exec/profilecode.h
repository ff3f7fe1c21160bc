// The encodings a settings file can be in, as the profile functions tell
// them: a UTF-8 or a UTF-16 byte order mark at the start, else the ANSI code
// page. The profile text routines work on 8-bit text whose structure is in
// ASCII; UTF-16 is turned into such text unit by unit (each 16-bit unit,
// half a surrogate pair included, as one UTF-8-like sequence of one to three
// bytes), which turns back into exactly the units it came from.
#pragma once

#include <stddef.h>

enum ProfileEncoding { PROFILE_ANSI, PROFILE_UTF8, PROFILE_UTF16LE, PROFILE_UTF16BE };

// The encoding of a file's bytes and the length of its byte order mark.
int ProfileEncodingOf(const char *bytes, size_t length, size_t *markLength);

// Little-endian UTF-16 (length even) into the 8-bit form. Heap (free), its
// length in *outLength; null when out of memory.
char *Utf16ToEight(const char *bytes, size_t length, size_t *outLength);
// The 8-bit form back into little-endian UTF-16. Heap (free); null when out
// of memory or when text holds what no unit turns into.
char *EightToUtf16(const char *text, size_t length, size_t *outLength);
