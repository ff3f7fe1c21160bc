// Where the updater's process looks for the DLLs that it, or the system's
// libraries on its behalf, load by name.
#pragma once

// Takes the application folder and the current folder out of the search, so
// that only the system folder is searched for a DLL named without a path.
// Called first thing in the run, before any library loads on demand.
void RestrictDllSearch(void);
