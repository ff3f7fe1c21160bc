#include "macrocheck.h"

#include "base/strutil.h"
#include "script/foldermacro.h"
#include "script/parser.h"

#include <stdio.h>
#include <string.h>

namespace {

// The folder a known NAME stands for on this machine, with its separator
// (folder "\"), as the expansion would begin; 0 when it cannot be found.
int MacroFolder(const char *name, char *folder)
{
    if (AsciiStricmp(name, "PROGRAM_FILES") == 0)
        return ReadProgramFilesDir(folder, "");
    int notAdmin = IsNotAdmin();
    int shellFolder;
    if (AsciiStricmp(name, "DESKTOP") == 0)
        shellFolder = notAdmin ? SHELL_FOLDER_DESKTOP : SHELL_FOLDER_COMMON_DESKTOP;
    else
        shellFolder = notAdmin ? SHELL_FOLDER_PROGRAMS : SHELL_FOLDER_COMMON_PROGRAMS;
    char shell[FOLDER_MACRO_BUFFER];
    return GetShellFolderPath(shellFolder, shell) && ComposeMacroPath(folder, shell, "");
}

int IsMacroName(const char *name)
{
    return AsciiStricmp(name, "DESKTOP") == 0 || AsciiStricmp(name, "STARTMENU") == 0 ||
           AsciiStricmp(name, "PROGRAM_FILES") == 0;
}

} // namespace

void ExplainMacroFailure(const char *value, int isFolder, char *why, size_t size)
{
    char work[SCRIPT_LINE_BUFFER];
    if (!StrCopy(work, sizeof(work), value)) {
        snprintf(why, size, "the value is longer than a line");
        return;
    }
    char *pieces[SCRIPT_MAX_PIECES];
    int count = SplitInPlace(work, pieces, SCRIPT_MAX_PIECES, '%');
    if (value[0] != '%') {
        snprintf(why, size, "it does not start with a folder macro (%%DESKTOP%%, %%STARTMENU%%, %%PROGRAM_FILES%%)");
        return;
    }
    if (count != 3) {
        snprintf(why, size, "it holds %d \"%%\" where a folder macro value holds exactly 2", count - 1);
        return;
    }
    if (!IsMacroName(pieces[1])) {
        snprintf(why, size, "\"%%%s%%\" is no folder macro (DESKTOP, STARTMENU, PROGRAM_FILES)", pieces[1]);
        return;
    }
    char folder[FOLDER_MACRO_BUFFER];
    if (!MacroFolder(pieces[1], folder)) {
        snprintf(why, size, "the folder of %%%s%% cannot be found on this machine", pieces[1]);
        return;
    }
    size_t expanded = strlen(folder) + strlen(pieces[2]);
    if (expanded > FOLDER_MACRO_BUFFER - 1) {
        snprintf(why, size, "expanded on this machine it would be %u bytes long (at most %d)", (unsigned)expanded,
                 FOLDER_MACRO_BUFFER - 1);
        return;
    }
    if (isFolder && expanded == FOLDER_MACRO_BUFFER - 1) {
        snprintf(why, size, "expanded on this machine it is %u bytes long: no room for the closing \"\\\"",
                 (unsigned)expanded);
        return;
    }
    snprintf(why, size, "it does not expand on this machine");
}
