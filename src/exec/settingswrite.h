// Writing one value of the application's settings file so that a full disk
// or a kill leaves either the old file or the old file plus the new value:
// the change is made in a copy beside it, checked, and renamed over it.
#pragma once

// 0, the file unchanged, when the copy cannot be made or written whole, or
// when the file is read-only.
int WriteSettingWhole(const char *path, const char *section, const char *key, const char *value);
