// "%DSTPATH%" in a command's file name or parameters stands for the
// destination folder's short path.
#pragma once

#include <stddef.h>

// Puts insert in place of every "%DSTPATH%" of text (exact, case-sensitive),
// left to right; what an insertion brings is never searched again. 0, with
// text unchanged, when the result would not fit in size bytes.
int ReplacePlaceholder(char *text, size_t size, const char *insert);
// 1 when text holds a "%DSTPATH%" to replace.
int HasPlaceholder(const char *text);
