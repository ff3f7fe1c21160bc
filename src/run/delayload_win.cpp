// The window libraries (user32, gdi32), shlwapi and advapi32 are imported on
// first call (cmake/delayload.cmake): a run that ends before it shows a
// window, asks anything, looks for the application's window or reads the
// registry never loads them, and loading them is most of what starting a
// process costs. This file is linked into the updater's executables only;
// the loader calls these hooks.
#include "base/dllsearch.h"

#include <windows.h>

#include <delayimp.h>

namespace {

int IsShlwapi(const char *dll)
{
    return lstrcmpiA(dll, "shlwapi.dll") == 0;
}

// shlwapi's path calls live in kernelbase from Windows 8 on (and in Wine):
// shlwapi only forwards them there. Taken from there, they do not drag in
// shlwapi and the window libraries it imports.
HMODULE KernelBaseWith(const DelayLoadInfo *info)
{
    HMODULE base = nullptr;
    if (!info->dlp.fImportByName || !GetModuleHandleExA(0, "kernelbase.dll", &base))
        return nullptr;
    if (GetProcAddress(base, info->dlp.szProcName))
        return base;  // held by the reference just taken, as a loaded library is
    FreeLibrary(base);
    return nullptr;
}

FARPROC WINAPI OnDelayLoad(unsigned notify, PDelayLoadInfo info)
{
    if (notify != dliNotePreLoadLibrary)
        return nullptr;
    HMODULE module = IsShlwapi(info->szDll) ? KernelBaseWith(info) : nullptr;
    if (!module)
        module = (HMODULE)LoadSystemLibrary(info->szDll);
    return (FARPROC)module;
}

// A later shlwapi call that kernelbase lacks (an older system) comes from
// shlwapi itself. Every other failure stays the loader's: a system library
// that cannot be loaded at all would have kept a plain import from starting.
FARPROC WINAPI OnDelayLoadFailure(unsigned notify, PDelayLoadInfo info)
{
    if (notify != dliFailGetProc || !IsShlwapi(info->szDll) || !info->dlp.fImportByName)
        return nullptr;
    HMODULE shlwapi = (HMODULE)LoadSystemLibrary(info->szDll);
    return shlwapi ? GetProcAddress(shlwapi, info->dlp.szProcName) : nullptr;
}

} // namespace

// Declared by <delayimp.h> (const in the Microsoft toolset's).
#ifdef _MSC_VER
#define LUMIUPD_DELAY_HOOK const PfnDliHook
#else
#define LUMIUPD_DELAY_HOOK PfnDliHook
#endif
LUMIUPD_DELAY_HOOK __pfnDliNotifyHook2 = OnDelayLoad;
LUMIUPD_DELAY_HOOK __pfnDliFailureHook2 = OnDelayLoadFailure;
