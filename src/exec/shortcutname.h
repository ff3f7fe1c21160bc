// Name rules of the "shortcut" command, free of any platform call.
#pragma once

// The text after the path's last backslash (a trail byte equal to a backslash
// does not count), or null when the path holds no backslash at all.
const char *ShortcutNameOf(const char *path);

// 1 when name holds none of \ / : * " < > . | ? as a character of its own.
// The name becomes a file name with ".lnk" appended, so it may not carry an
// extension, and the trail byte of a double-byte character (ソ is 0x83 0x5C,
// ポ 0x83 0x7C) is part of that character. A name ending in a lone lead
// byte is refused.
int IsValidShortcutName(const char *name);
