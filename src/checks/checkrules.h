// Name rules of the pre-flight checks, free of any platform call: which
// script entries are program modules, and which drive a folder lies on.
#pragma once

#include <stddef.h>

enum { DRIVE_INDEX_Z = 25 };

// The extension of the last path component of name (after the last backslash
// or slash), from its last dot on, dot included; empty when that component
// has no dot. Returns 0 with ext empty when the extension does not fit in size.
int TakeExtension(const char *name, char *ext, size_t size);

// 1 when the extension of name is ".dll" or ".exe", ASCII case ignored.
int IsModuleName(const char *name);

// Drive index of a folder: 0 for A to 25 for Z; every first byte that is not an
// ASCII letter (a network path's backslash, a digit, a double-byte character)
// gives an index above 25.
unsigned short DriveIndexOf(const char *folder);
