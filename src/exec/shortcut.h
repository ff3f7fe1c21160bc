// The "shortcut" command: a .lnk file pointing at a file of the destination.
#pragma once

// path: the expanded shortcut path without extension; folder: the destination
// folder (ending in a backslash); file: the target relative to it.
// 1 when made, or skipped for a missing target or an unavailable shell-link
// object; 0 on a refused name or path, a parent folder not created, or a
// link that cannot be written (traced).
int Shortcut(const char *path, const char *folder, const char *file);
