#include "script/readscript.h"

#include "base/strutil.h"
#include "script/parser.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

int UpdateScriptPath(void *module, char *path)
{
    memset(path, 0, MAX_PATH_BYTES);
    DWORD length = GetModuleFileNameA((HMODULE)module, path, MAX_PATH_BYTES);
    // A cut module path names some other file; it is no script's location.
    if (length == 0 || length >= MAX_PATH_BYTES)
        return 0;
    return ScriptPathFromModulePath(path, MAX_PATH_BYTES);
}

int ReadUpdateScript(void *module, UpdateScript *script)
{
    char path[MAX_PATH_BYTES];
    return UpdateScriptPath(module, path) && ReadScriptFile(path, script);
}

int ReadScriptThrough(void *handle, UpdateScript *script)
{
    // A second handle of the same open file: the runtime closes it with its
    // stream. Text mode, as the script is read by name.
    HANDLE own = nullptr;
    HANDLE process = GetCurrentProcess();
    if (SetFilePointer((HANDLE)handle, 0, nullptr, FILE_BEGIN) != 0 ||
        !DuplicateHandle(process, (HANDLE)handle, process, &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return 0;
    int descriptor = _open_osfhandle((intptr_t)own, _O_RDONLY | _O_TEXT);
    FILE *file = descriptor >= 0 ? _fdopen(descriptor, "rt") : nullptr;
    if (!file) {
        if (descriptor >= 0)
            _close(descriptor);
        else
            CloseHandle(own);
        return 0;
    }
    int read = ReadScriptStream(file, script);
    fclose(file);
    return read;
}
