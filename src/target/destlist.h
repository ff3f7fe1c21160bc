// The destination list's own rules, free of any platform call.
#pragma once

#include "base/ptrlist.h"

#include <stddef.h>

// Appends a heap copy of folder unless an entry equal to it (ASCII letter case
// ignored) is already there. 1 when folder was appended, 0 when it was there
// already or memory ran out (the folder is then left out).
int AppendFolderOnce(PtrList *dsts, const char *folder);

// A registry string as read into a zero-filled buffer of size bytes, of which
// returned bytes were filled: terminated in place when it is not. 0 when the
// value fills the whole buffer without a terminator (it was cut, or it is no
// string at all), so that it is never read past the buffer's end.
int TerminateValue(char *value, size_t size, unsigned long returned);
