#include "base/dllsearch.h"

#include "base/strutil.h"

#include <windows.h>

namespace {

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFn)(DWORD);
typedef void *(WINAPI *AddDllDirectoryFn)(const WCHAR *);
typedef BOOL(WINAPI *RemoveDllDirectoryFn)(void *);

// Set once the restriction is in place; only then is there anything to widen.
SetDefaultDllDirectoriesFn g_setDefault = nullptr;

FARPROC KernelFunction(const char *name)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? GetProcAddress(kernel, name) : nullptr;
}

// The folder as a wide string without its trailing backslash (converted
// first, so that no double-byte character's second byte is taken for one).
int WideFolder(const char *folder, WCHAR *wide, int capacity)
{
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, folder, -1, wide, capacity);
    if (n <= 1)
        return 0;
    if (n > 4 && wide[n - 2] == L'\\')
        wide[n - 2] = L'\0';
    return 1;
}

} // namespace

// An update is unpacked wherever the user put it, often beside other DLLs.
// Before anything loads on demand (common controls, shell extensions, theme
// libraries), take the application folder and the current folder out of the
// DLL search so that only the system's own libraries can be found. The call
// is looked up at run time: systems without it keep their default search.
void RestrictDllSearch(void)
{
    SetDefaultDllDirectoriesFn setDefault =
        (SetDefaultDllDirectoriesFn)(void (*)(void))KernelFunction("SetDefaultDllDirectories");
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        g_setDefault = setDefault;
    SetDllDirectoryA("");
}

// A plug-in may load helpers of its own by name (LoadLibrary, delay-loaded
// imports) from where it was shipped. The folders are searched only while it
// loads and runs: nothing else the updater loads can come from there.
void WidenDllSearch(DllSearchWidening *widening, const char *const *folders, int count)
{
    widening->count = 0;
    AddDllDirectoryFn add = (AddDllDirectoryFn)(void (*)(void))KernelFunction("AddDllDirectory");
    if (!g_setDefault || !add)
        return;
    for (int i = 0; i < count && widening->count < DLL_SEARCH_EXTRA_FOLDERS; i++) {
        WCHAR wide[MAX_PATH];
        void *cookie = WideFolder(folders[i], wide, MAX_PATH) ? add(wide) : nullptr;
        if (cookie)
            widening->cookies[widening->count++] = cookie;
    }
    if (widening->count)
        g_setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_USER_DIRS);
}

void NarrowDllSearch(DllSearchWidening *widening)
{
    if (!widening->count)
        return;
    g_setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    RemoveDllDirectoryFn remove = (RemoveDllDirectoryFn)(void (*)(void))KernelFunction("RemoveDllDirectory");
    for (int i = 0; remove && i < widening->count; i++)
        remove(widening->cookies[i]);
    widening->count = 0;
}

void *LoadSystemLibrary(const char *name)
{
    char path[MAX_PATH_BYTES];
    UINT len = GetSystemDirectoryA(path, sizeof(path));
    if (len == 0 || len >= sizeof(path) || !AddBackslash(path, sizeof(path)) ||
        !StrAppend(path, sizeof(path), name))
        return nullptr;
    return LoadLibraryA(path);
}
