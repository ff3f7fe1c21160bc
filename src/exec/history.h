// The destination's update history ("update.log") and installed list
// (INSTALLED of [MAIN] in "MIRO42.INI").
#pragma once

// Appends one dated line "id <tab> first part <tab> second part" of the
// comment; a history that cannot be opened is skipped. Always 1.
int Log(const char *folder, const char *comment, const char *id);
// Adds id to INSTALLED. The settings write's result (non-zero on success);
// 0 without writing when the old value cannot be read whole.
int AddInstalledId(const char *folder, const char *id);
