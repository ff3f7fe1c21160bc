#include "script/foldermacro.h"

#include "base/shellcalls.h"

#include <string.h>

int GetShellFolderPath(int shellFolder, char *folder)
{
    IMalloc *shellAlloc = nullptr;
    if (FAILED(ShellGetMalloc(&shellAlloc)) || !shellAlloc)
        return 0;
    LPITEMIDLIST idList = nullptr;
    int found = 0;
    if (SUCCEEDED(ShellGetSpecialFolderLocation(nullptr, shellFolder, &idList)) && idList) {
        folder[0] = '\0';
        found = ShellGetPathFromIDList(idList, folder) ? 1 : 0;
        // The ID list is the shell allocator's also when it names no file
        // system folder.
        shellAlloc->Free(idList);
    }
    shellAlloc->Release();
    return found;
}

int ReadProgramFilesDir(char *out, const char *rest)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return 0;
    // The value's type is not examined, so it may come without a terminator:
    // leave room for one and end the text where the data ends.
    char folder[FOLDER_MACRO_BUFFER];
    memset(folder, 0, sizeof(folder));
    DWORD size = FOLDER_MACRO_BUFFER - 1;
    LONG status = RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr, (BYTE *)folder, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || size > FOLDER_MACRO_BUFFER - 1)
        return 0;
    folder[size] = '\0';
    return ComposeMacroPath(out, folder, rest);
}
