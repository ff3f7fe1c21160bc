#include "run/dllsearch.h"

#include <windows.h>

// An update is unpacked wherever the user put it, often beside other DLLs.
// Before anything loads on demand (common controls, shell extensions, theme
// libraries), take the application folder and the current folder out of the
// DLL search so that only the system's own libraries can be found. The call
// is looked up at run time: systems without it keep their default search.
void RestrictDllSearch(void)
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel)
        return;
    SetDefaultDllDirectoriesFn setDefault =
        (SetDefaultDllDirectoriesFn)(void (*)(void))GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDefault)
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA("");
}
