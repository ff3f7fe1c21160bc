#include "script/readscript.h"

#include "base/strutil.h"
#include "script/parser.h"

#include <windows.h>
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
