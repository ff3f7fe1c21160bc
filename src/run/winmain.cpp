#include "base/dllsearch.h"
#include "run/run.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    (void)hPrevInstance;
    (void)nShowCmd;
    RestrictDllSearch();
    return RunUpdate(hInstance, lpCmdLine);
}
