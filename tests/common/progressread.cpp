#include "progressread.h"

#include "robot.h"

#include <commctrl.h>

namespace {

const int kSourceId = 1000, kDestinationId = 1001, kBarId = 1002;

int Ask(HWND wnd, UINT msg, WPARAM wParam)
{
    DWORD_PTR answer = (DWORD_PTR)-1;
    if (!SendMessageTimeoutA(wnd, msg, wParam, 0, SMTO_ABORTIFHUNG, 2000, &answer))
        return -1;
    return (int)answer;
}

} // namespace

HWND FindProgressDialog(DWORD pid)
{
    for (HWND wnd : ProcessWindows(pid, "#32770")) {
        char barClass[32] = "";
        HWND bar = GetDlgItem(wnd, kBarId);
        if (bar && GetClassNameA(bar, barClass, sizeof(barClass)) && _stricmp(barClass, PROGRESS_CLASSA) == 0)
            return wnd;
    }
    return nullptr;
}

ProgressReading ReadProgress(HWND dialog)
{
    ProgressReading r;
    r.caption = WindowText(dialog);
    r.source = WindowText(GetDlgItem(dialog, kSourceId));
    r.destination = WindowText(GetDlgItem(dialog, kDestinationId));
    HWND bar = GetDlgItem(dialog, kBarId);
    r.position = Ask(bar, PBM_GETPOS, 0);
    // The limits come back as results, so no pointer crosses processes.
    r.low = Ask(bar, PBM_GETRANGE, TRUE);
    r.high = Ask(bar, PBM_GETRANGE, FALSE);
    return r;
}
