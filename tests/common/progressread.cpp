#include "progressread.h"

#include "robot.h"

#include <commctrl.h>

namespace {

const int kSourceId = 1000, kDestinationId = 1001, kBarId = 1002;

struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindIt(HWND wnd, LPARAM param)
{
    Search *s = reinterpret_cast<Search *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    char cls[32] = "";
    GetClassNameA(wnd, cls, sizeof(cls));
    HWND bar = GetDlgItem(wnd, kBarId);
    char barClass[32] = "";
    if (bar)
        GetClassNameA(bar, barClass, sizeof(barClass));
    if (pid == s->pid && strcmp(cls, "#32770") == 0 && _stricmp(barClass, PROGRESS_CLASSA) == 0) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

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
    Search s{pid, nullptr};
    EnumWindows(FindIt, (LPARAM)&s);
    return s.found;
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
