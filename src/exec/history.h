// The destination's update history ("update.log") and installed list
// (INSTALLED of [MAIN] in "MIRO42.INI").
#pragma once

// Always 1.
int Log(const char *folder, const char *comment, const char *id);
// The settings write's result (non-zero on success).
int AddInstalledId(const char *folder, const char *id);
