#include "script/foldermacro.h"

#include "base/strutil.h"

#include <string.h>

namespace {

enum { MACRO_PIECES = 16 };

enum MacroName { MACRO_UNKNOWN, MACRO_DESKTOP, MACRO_STARTMENU, MACRO_PROGRAM_FILES };

MacroName FindMacroName(const char *name)
{
    if (AsciiStricmp(name, "DESKTOP") == 0)
        return MACRO_DESKTOP;
    if (AsciiStricmp(name, "STARTMENU") == 0)
        return MACRO_STARTMENU;
    if (AsciiStricmp(name, "PROGRAM_FILES") == 0)
        return MACRO_PROGRAM_FILES;
    return MACRO_UNKNOWN;
}

} // namespace

int ComposeMacroPath(char *out, const char *folder, const char *rest)
{
    // No separator is merged or dropped: the script author's REST is kept as
    // written, and a result that does not fit is no path at all.
    size_t folderLen = strlen(folder);
    size_t restLen = strlen(rest);
    if (folderLen + 1 + restLen + 1 > FOLDER_MACRO_BUFFER)
        return 0;
    memcpy(out, folder, folderLen);
    out[folderLen] = '\\';
    memcpy(out + folderLen + 1, rest, restLen + 1);
    return 1;
}

int FolderMacro(int notAdmin, char *buffer)
{
    // "%" is below 0x40 and never a trail byte, so the split may go byte by byte.
    char *pieces[MACRO_PIECES];
    if (SplitInPlace(buffer, pieces, MACRO_PIECES, '%') != 3 || pieces[0][0] != '\0')
        return 0;
    MacroName name = FindMacroName(pieces[1]);
    const char *rest = pieces[2];
    char work[FOLDER_MACRO_BUFFER];
    if (name == MACRO_PROGRAM_FILES) {
        if (!ReadProgramFilesDir(work, rest))
            return 0;
    } else if (name == MACRO_DESKTOP || name == MACRO_STARTMENU) {
        int shellFolder;
        if (name == MACRO_DESKTOP)
            shellFolder = notAdmin ? SHELL_FOLDER_DESKTOP : SHELL_FOLDER_COMMON_DESKTOP;
        else
            shellFolder = notAdmin ? SHELL_FOLDER_PROGRAMS : SHELL_FOLDER_COMMON_PROGRAMS;
        char folder[FOLDER_MACRO_BUFFER];
        if (!GetShellFolderPath(shellFolder, folder) || !ComposeMacroPath(work, folder, rest))
            return 0;
    } else {
        return 0;
    }
    // work and buffer never overlap: rest was read before buffer is written.
    return StrCopy(buffer, FOLDER_MACRO_BUFFER, work);
}
