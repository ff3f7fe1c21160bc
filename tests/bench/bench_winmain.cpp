// The updater as the benchmark builds it: the pauses between commands left
// out, and the number of logged calls written where LUMIUPD_BENCH_CALLS says,
// so that the floors can repeat as many log cycles.
#include "base/dllsearch.h"
#include "run/run.h"

#include <windows.h>
#include <stdio.h>

extern unsigned long benchTraceCalls;

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    (void)hPrevInstance;
    (void)nShowCmd;
    RestrictDllSearch();
    int result = RunUpdate(hInstance, lpCmdLine);
    char path[MAX_PATH];
    DWORD len = GetEnvironmentVariableA("LUMIUPD_BENCH_CALLS", path, sizeof(path));
    if (len > 0 && len < sizeof(path)) {
        FILE *out = fopen(path, "w");
        if (out) {
            fprintf(out, "%lu\n", benchTraceCalls);
            fclose(out);
        }
    }
    return result;
}
