// Writing one value of the application's settings file so that a full disk
// or a kill leaves either the old file or the old file plus the new value:
// the change is made in a new file beside it, checked, given the old file's
// owner, permissions and attributes, and renamed over it. The file is read
// and written through handles that are known to hold it, never by name.
// update.log with a second name is replaced the same way.
#pragma once

#include <windows.h>

// The settings file as read: its bytes, and the handle that keeps its name
// on it (no other program can rename or delete it meanwhile).
struct SettingsFile {
    HANDLE handle;
    char *text;
    DWORD length;
    DWORD attributes;
};

// Reads the file's bytes at path, whatever their encoding; a missing file
// reads as empty. A file with a second name is read too: it is only ever
// replaced. 0, with the last error set, when it cannot be read whole, is
// read-only or is no plain file at path.
int ReadSettingsFile(SettingsFile *file, const char *path);
// Replaces its text with text. Where the file cannot be replaced so that it
// keeps its owner, permissions and attributes, or where a program holds it
// so that it cannot be renamed over, the text is written in place instead,
// when the file has one name. 0, the file unchanged, when neither can be done.
int WriteSettingsFile(SettingsFile *file, const char *path, const char *text, DWORD length);
// Releases the hold and the text; also after a failed read.
void CloseSettingsFile(SettingsFile *file);
// Gives to the owner, group and permissions of the file from
// (both held with READ_CONTROL, to with WRITE_DAC and WRITE_OWNER).
int CarrySecurity(HANDLE from, HANDLE to);
