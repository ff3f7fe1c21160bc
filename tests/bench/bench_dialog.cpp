// The memory floor: a static GUI program that shows the updater's progress
// dialog (its own template and manifest), fills its labels, steps the bar and
// ends. Nothing else is loaded.
#include "ui/resource.h"

#include <windows.h>
#include <commctrl.h>

namespace {

INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

void Pump(DWORD ms)
{
    DWORD end = GetTickCount() + ms;
    MSG msg;
    while ((LONG)(end - GetTickCount()) > 0) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, DialogProc, 0);
    if (!dialog)
        return 1;
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 20));
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    for (int i = 0; i < 20; i++) {
        SetDlgItemTextA(dialog, IDC_SOURCE, "C:\\LumiBench\\Copy\\data\\F01.BIN");
        SetDlgItemTextA(dialog, IDC_DESTINATION, "C:\\LumiBench\\App\\data\\F01.BIN");
        SendMessageA(bar, PBM_STEPIT, 0, 0);
        Pump(25);
    }
    DestroyWindow(dialog);
    return 0;
}
