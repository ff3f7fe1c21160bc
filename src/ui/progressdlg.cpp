#include "ui/progressdlg.h"

#include <commctrl.h>

namespace {

void InitProgressDialog(HWND dialog, HWND bar, LPARAM steps)
{
    CenterWindow(dialog, nullptr);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, (WORD)steps));
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    SetDlgItemTextA(dialog, IDC_SOURCE, "");
    SetDlgItemTextA(dialog, IDC_DESTINATION, "");
    SubclassWindow(GetDlgItem(dialog, IDC_SOURCE), PathEllipsisLabelProc);
    SubclassWindow(GetDlgItem(dialog, IDC_DESTINATION), PathEllipsisLabelProc);
}

void UpdateProgress(HWND dialog, HWND bar, WPARAM what, LPARAM lParam)
{
    if (what == PROGRESS_SOURCE)
        SetDlgItemTextA(dialog, IDC_SOURCE, (const char *)lParam);
    else if (what == PROGRESS_DESTINATION)
        SetDlgItemTextA(dialog, IDC_DESTINATION, (const char *)lParam);
    else if (what == PROGRESS_STEP)
        SendMessageA(bar, PBM_STEPIT, 0, 0);
}

WNDPROC PreviousProcedure(HWND window)
{
    return (WNDPROC)GetWindowLongA(window, GWL_USERDATA);
}

void PaintPathLabel(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    HWND parent = GetParent(window);
    HFONT font = (HFONT)SendMessageA(parent, WM_GETFONT, 0, 0);
    HGDIOBJ oldFont = SelectObject(dc, font);
    RECT rect;
    GetClientRect(window, &rect);
    // The label paints its background only in its own painting, which this
    // replaces: without this fill the path would be drawn over what the
    // label drew before (the full text, or a longer path).
    HBRUSH brush = (HBRUSH)SendMessageA(parent, WM_CTLCOLORSTATIC, (WPARAM)dc, (LPARAM)window);
    FillRect(dc, &rect, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(dc, TRANSPARENT);
    char text[260];
    GetWindowTextA(window, text, sizeof(text));
    DrawTextA(dc, text, -1, &rect, DT_PATH_ELLIPSIS | DT_SINGLELINE);
    SelectObject(dc, oldFont);
    EndPaint(window, &ps);
}

} // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    switch (message) {
    case WM_INITDIALOG:
        InitProgressDialog(dialog, bar, lParam);
        break;
    case WM_DESTROY:
        UnsubclassWindow(GetDlgItem(dialog, IDC_SOURCE));
        UnsubclassWindow(GetDlgItem(dialog, IDC_DESTINATION));
        break;
    case WM_UPDATE_PROGRESS:
        UpdateProgress(dialog, bar, wParam, lParam);
        DrawProgressDialog(dialog);
        break;
    default:
        break;
    }
    // Also for WM_INITDIALOG: no control takes the focus; and the close box's
    // cancel is left alone, so the dialog stays until the update is done.
    return FALSE;
}

LRESULT CALLBACK PathEllipsisLabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT) {
        PaintPathLabel(window);
        return 0;
    }
    LRESULT result = CallWindowProcA(PreviousProcedure(window), window, message, wParam, lParam);
    // A label draws its new text at once, by itself and in full; draw the
    // shortened path over it right away, as nothing else would until the
    // window is next uncovered.
    if (message == WM_SETTEXT)
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    return result;
}

// The run pumps no messages between commands (only a copy's progress routine
// and message boxes do), so a dialog left to WM_PAINT would show whatever
// was drawn last, or nothing. Painting is sent, not posted: no input is read.
void DrawProgressDialog(HWND dialog)
{
    RedrawWindow(dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // What was painted must reach the screen now, before a long step that
    // pumps nothing: GDI batches it, and Wine shows a window's drawing only
    // when the thread looks at its queue. A look for a message that is never
    // sent, removing nothing, serves that without touching any input.
    GdiFlush();
    MSG none;
    PeekMessageA(&none, dialog, WM_UPDATE_PROGRESS + 1, WM_UPDATE_PROGRESS + 1, PM_NOREMOVE);
}

int SubclassWindow(HWND window, WNDPROC procedure)
{
    LONG old = GetWindowLongA(window, GWL_WNDPROC);
    SetWindowLongA(window, GWL_WNDPROC, (LONG)procedure);
    SetWindowLongA(window, GWL_USERDATA, old);
    return 1;
}

int UnsubclassWindow(HWND window)
{
    SetWindowLongA(window, GWL_WNDPROC, GetWindowLongA(window, GWL_USERDATA));
    return 1;
}

void CenterWindow(HWND window, HWND reference)
{
    if (!reference)
        reference = GetDesktopWindow();
    RECT win, ref;
    GetWindowRect(window, &win);
    GetWindowRect(reference, &ref);
    int x = ref.left + ((ref.right - ref.left) - (win.right - win.left)) / 2;
    int y = ref.top + ((ref.bottom - ref.top) - (win.bottom - win.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
