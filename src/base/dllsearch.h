// Where the updater's process looks for the DLLs that it, or the system's
// libraries on its behalf, load by name.
#pragma once

// Takes the application folder and the current folder out of the search, so
// that only the system folder is searched for a DLL named without a path.
// Called first thing in the run, before any library loads on demand.
void RestrictDllSearch(void);

enum { DLL_SEARCH_EXTRA_FOLDERS = 2 };

// Folders added to the search for a while; undone by NarrowDllSearch.
struct DllSearchWidening {
    void *cookies[DLL_SEARCH_EXTRA_FOLDERS];
    int count;
};

// While a plug-in loads and runs: the given folders (absolute, ANSI) are
// searched as well, before the system folder. Does nothing unless the search
// was restricted, or for folders that cannot be added.
void WidenDllSearch(DllSearchWidening *widening, const char *const *folders, int count);
// Back to the restricted search.
void NarrowDllSearch(DllSearchWidening *widening);

// A system library (a bare file name such as "user32.dll"), loaded by its
// full path in the system folder so that no folder the update was unpacked
// into is ever searched for it, whatever the search order is at the time.
// Null, with the loader's error, when it cannot be loaded.
void *LoadSystemLibrary(const char *name);
