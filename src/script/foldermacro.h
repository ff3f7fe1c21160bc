// Folder macros %DESKTOP%, %STARTMENU%, %PROGRAM_FILES% at the start of a
// script value, and the administrator test that picks all-users folders.
//
// FolderMacro itself is portable; the folder lookups and the administrator
// test below it are the platform's (foldermacro_win.cpp, isnotadmin_win.cpp;
// a native build supplies stand-ins).
#pragma once

enum { FOLDER_MACRO_BUFFER = 260 };

// The shell folders a macro can name (the system's CSIDL numbers).
enum {
    SHELL_FOLDER_DESKTOP = 0,
    SHELL_FOLDER_PROGRAMS = 2,
    SHELL_FOLDER_COMMON_PROGRAMS = 23,
    SHELL_FOLDER_COMMON_DESKTOP = 25
};

// buffer: FOLDER_MACRO_BUFFER bytes holding the value "%NAME%REST". 1 =
// expanded in place to the folder, a backslash and REST; 0 = not a macro
// value, an unknown NAME, a folder that cannot be found, or a result longer
// than FOLDER_MACRO_BUFFER - 1 bytes (the buffer content is then undefined).
int FolderMacro(int notAdmin, char *buffer);

// out (FOLDER_MACRO_BUFFER bytes) = folder "\" rest; 0 when that does not fit.
int ComposeMacroPath(char *out, const char *folder, const char *rest);

// Platform lookups.
// 0 when the caller is a member of the local Administrators group, else 1
// (also when the test itself fails).
int IsNotAdmin(void);
// The path of a shell folder (SHELL_FOLDER_*) into folder (260 bytes).
int GetShellFolderPath(int shellFolder, char *folder);
// out (260 bytes) = the Program Files folder from the registry "\" rest.
int ReadProgramFilesDir(char *out, const char *rest);
