// Why a folder macro value did not expand: the parser only says that it did
// not; the checker tells the script's author which rule it broke.
#pragma once

#include <stddef.h>

// value: the value as written ("install", "post" or the shortcut path);
// isFolder: an install folder, which needs room for its trailing backslash.
// Writes a reason into why (size bytes).
void ExplainMacroFailure(const char *value, int isFolder, char *why, size_t size);
