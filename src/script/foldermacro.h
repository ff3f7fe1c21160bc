// Folder macros %DESKTOP%, %STARTMENU%, %PROGRAM_FILES% at the start of a
// script value, and the administrator test that picks all-users folders.
#pragma once

enum { FOLDER_MACRO_BUFFER = 260 };

// buffer: FOLDER_MACRO_BUFFER bytes holding the value. 1 = expanded in place;
// 0 = not a macro value or not expandable (buffer content then undefined).
int FolderMacro(int notAdmin, char *buffer);
// 0 when the caller is a member of the local Administrators group, else 1.
int IsNotAdmin(void);
