// Code page 932 and UTF-8 for the native checker: the script stays CP932
// inside, the command line, the file system and the output speak UTF-8.
#pragma once

#include <stddef.h>
#include <stdio.h>

// Whole-text conversions; 0 when a character has no counterpart or out is
// too small.
int Cp932ToUtf8(const char *text, char *out, size_t size);
int Utf8ToCp932(const char *text, char *out, size_t size);

// Writes length bytes of CP932 text to out in UTF-8. A byte that is no
// character of code page 932 (or a pair with no Unicode counterpart) is
// written as "\xNN", so that the finding about it can still be read.
void WriteCp932AsUtf8(const char *bytes, size_t length, FILE *out);
