// The start-up floors: GUI programs with the updater's manifest that end at
// once. Built twice: bare, and importing the same system libraries as the
// updater (their loading is the start-up cost every program with boxes pays).
#include <windows.h>
#ifdef BENCH_EXIT_IMPORTS
#include <shlwapi.h>
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int)
{
#ifdef BENCH_EXIT_IMPORTS
    // Never taken: the calls only make the imports.
    if (cmdLine[0] == '\x01') {
        MessageBeep(0);
        GetStockObject(0);
        RegCloseKey(nullptr);
        PathIsRelativeA(cmdLine);
    }
#else
    (void)cmdLine;
#endif
    return 0;
}
