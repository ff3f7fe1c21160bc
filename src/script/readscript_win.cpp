#include "script/readscript.h"

#include "base/strutil.h"
#include "script/parser.h"

#include <windows.h>
#include <string.h>

int ReadUpdateScript(void *module, UpdateScript *script)
{
    char path[MAX_PATH_BYTES];
    memset(path, 0, sizeof(path));
    DWORD length = GetModuleFileNameA((HMODULE)module, path, MAX_PATH_BYTES);
    // A cut module path names some other file; it is no script's location.
    if (length == 0 || length >= MAX_PATH_BYTES)
        return 0;
    if (!ScriptPathFromModulePath(path, sizeof(path)))
        return 0;
    return ReadScriptFile(path, script);
}
