// Stand-ins for the folder lookups in a native (non-Windows) build: fixed
// folders shaped like those of a Windows installation, and an administrator.
#include "script/foldermacro.h"

#include "base/strutil.h"

int IsNotAdmin(void)
{
    return 0;
}

int GetShellFolderPath(int shellFolder, char *folder)
{
    const char *path;
    switch (shellFolder) {
    case SHELL_FOLDER_DESKTOP:
        path = "C:\\Users\\user\\Desktop";
        break;
    case SHELL_FOLDER_PROGRAMS:
        path = "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
        break;
    case SHELL_FOLDER_COMMON_PROGRAMS:
        path = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
        break;
    case SHELL_FOLDER_COMMON_DESKTOP:
        path = "C:\\Users\\Public\\Desktop";
        break;
    default:
        return 0;
    }
    return StrCopy(folder, FOLDER_MACRO_BUFFER, path);
}

int ReadProgramFilesDir(char *out, const char *rest)
{
    return ComposeMacroPath(out, "C:\\Program Files", rest);
}
