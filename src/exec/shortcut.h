// The "shortcut" command: a .lnk file pointing at a file of the destination.
#pragma once

// path: the expanded shortcut path without extension; folder: the destination
// folder (ending in a backslash); file: the target relative to it.
int Shortcut(const char *path, const char *folder, const char *file);
