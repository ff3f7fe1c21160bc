#include "base/shellcalls.h"

#include "base/dllsearch.h"

namespace {

enum { LIBRARY_SHELL32, LIBRARY_OLE32, LIBRARY_COUNT };

const char *const kLibraryNames[LIBRARY_COUNT] = {"shell32.dll", "ole32.dll"};

// Loaded once and kept for the rest of the run: the system frees them at exit.
HMODULE loaded[LIBRARY_COUNT];

HMODULE LibraryOf(int library)
{
    if (!loaded[library])
        loaded[library] = (HMODULE)LoadSystemLibrary(kLibraryNames[library]);
    return loaded[library];
}

// The call, or null with the loader's error when it is not to be had.
FARPROC ProcOf(int library, const char *name)
{
    HMODULE module = LibraryOf(library);
    return module ? GetProcAddress(module, name) : nullptr;
}

template <typename Fn> Fn Lookup(int library, const char *name)
{
    return (Fn)(void (*)(void))ProcOf(library, name);
}

} // namespace

HRESULT ShellGetMalloc(IMalloc **allocator)
{
    typedef HRESULT(WINAPI * Fn)(IMalloc **);
    Fn fn = Lookup<Fn>(LIBRARY_SHELL32, "SHGetMalloc");
    return fn ? fn(allocator) : E_FAIL;
}

HRESULT ShellGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST *idList)
{
    typedef HRESULT(WINAPI * Fn)(HWND, int, LPITEMIDLIST *);
    Fn fn = Lookup<Fn>(LIBRARY_SHELL32, "SHGetSpecialFolderLocation");
    return fn ? fn(owner, folder, idList) : E_FAIL;
}

BOOL ShellGetPathFromIDList(LPCITEMIDLIST idList, char *path)
{
    typedef BOOL(WINAPI * Fn)(LPCITEMIDLIST, LPSTR);
    Fn fn = Lookup<Fn>(LIBRARY_SHELL32, "SHGetPathFromIDListA");
    return fn ? fn(idList, path) : FALSE;
}

LPITEMIDLIST ShellBrowseForFolder(BROWSEINFOA *info)
{
    typedef LPITEMIDLIST(WINAPI * Fn)(BROWSEINFOA *);
    Fn fn = Lookup<Fn>(LIBRARY_SHELL32, "SHBrowseForFolderA");
    return fn ? fn(info) : nullptr;
}

BOOL ShellExecuteExAnsi(SHELLEXECUTEINFOA *info)
{
    typedef BOOL(WINAPI * Fn)(SHELLEXECUTEINFOA *);
    Fn fn = Lookup<Fn>(LIBRARY_SHELL32, "ShellExecuteExA");
    return fn ? fn(info) : FALSE;
}

HRESULT ComInitialize(void)
{
    typedef HRESULT(WINAPI * Fn)(LPVOID);
    Fn fn = Lookup<Fn>(LIBRARY_OLE32, "CoInitialize");
    return fn ? fn(nullptr) : E_FAIL;
}

void ComUninitialize(void)
{
    typedef void(WINAPI * Fn)(void);
    Fn fn = Lookup<Fn>(LIBRARY_OLE32, "CoUninitialize");
    if (fn)
        fn();
}

HRESULT ComCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD context, REFIID iid, void **object)
{
    typedef HRESULT(WINAPI * Fn)(REFCLSID, IUnknown *, DWORD, REFIID, void **);
    Fn fn = Lookup<Fn>(LIBRARY_OLE32, "CoCreateInstance");
    *object = nullptr;
    return fn ? fn(clsid, outer, context, iid, object) : E_FAIL;
}

HRESULT ComCreateMemoryStream(IStream **stream)
{
    typedef HRESULT(WINAPI * Fn)(HGLOBAL, BOOL, IStream **);
    Fn fn = Lookup<Fn>(LIBRARY_OLE32, "CreateStreamOnHGlobal");
    *stream = nullptr;
    return fn ? fn(nullptr, TRUE, stream) : E_FAIL;
}

HRESULT ComMemoryOfStream(IStream *stream, HGLOBAL *memory)
{
    typedef HRESULT(WINAPI * Fn)(IStream *, HGLOBAL *);
    Fn fn = Lookup<Fn>(LIBRARY_OLE32, "GetHGlobalFromStream");
    *memory = nullptr;
    return fn ? fn(stream, memory) : E_FAIL;
}
