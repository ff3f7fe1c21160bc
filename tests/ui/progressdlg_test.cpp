// The progress dialog built from the updater's own template, in this process.
#include "ui/progressdlg.h"

#include "progressread.h"
#include "testutil.h"

#include <commctrl.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

void Pump(HWND dialog)
{
    for (int i = 0; i < 5; i++) {
        UpdateWindow(dialog);
        RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(20);
    }
}

class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExA((BinDir() + "Lumiupd.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override
    {
        if (dialog)
            DestroyWindow(dialog);
        FreeLibrary(module);
    }
    void Open(LPARAM steps)
    {
        if (dialog)
            DestroyWindow(dialog);
        dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, steps);
        ASSERT_NE(dialog, nullptr);
        Pump(dialog);
    }
    ProgressReading Read() { return ReadProgress(dialog); }
    void Send(WPARAM what, const char *text) { SendMessageA(dialog, WM_UPDATE_PROGRESS, what, (LPARAM)text); }
    HMODULE module = nullptr;
    HWND dialog = nullptr;
};

TEST_F(ProgressDialogTest, OpensCentredWithEmptyLabelsAndTheRangeOfSteps)
{
    Open(7);
    ProgressReading r = Read();
    EXPECT_EQ(r.caption, "処理中です...");
    EXPECT_EQ(r.source, "");
    EXPECT_EQ(r.destination, "");
    EXPECT_EQ(r.position, 0);
    EXPECT_EQ(r.low, 0);
    EXPECT_EQ(r.high, 7);
    EXPECT_TRUE(IsWindowVisible(dialog));
    RECT d, screen;
    GetWindowRect(dialog, &d);
    GetWindowRect(GetDesktopWindow(), &screen);
    EXPECT_EQ(d.left, ((screen.right - screen.left) - (d.right - d.left)) / 2);
    EXPECT_EQ(d.top, ((screen.bottom - screen.top) - (d.bottom - d.top)) / 2);
    for (int id : {IDC_SOURCE, IDC_DESTINATION}) {
        HWND label = GetDlgItem(dialog, id);
        EXPECT_EQ(GetWindowLongA(label, GWL_WNDPROC), (LONG)PathEllipsisLabelProc);
    }
}

TEST_F(ProgressDialogTest, StepCountsBeyond16BitsKeepTheirLowBits)
{
    Open(0);
    EXPECT_EQ(Read().high, 0);
    Open(65536 + 5);
    EXPECT_EQ(Read().high, 5);
}

TEST_F(ProgressDialogTest, UpdatesCopyTheTextsAndStepTheBar)
{
    Open(4);
    char text[64] = "C:\\upd\\MIRO42.DLL";
    Send(PROGRESS_SOURCE, text);
    strcpy(text, "changed afterwards");
    Send(PROGRESS_DESTINATION, "C:\\App\\MIRO42.DLL");
    Send(PROGRESS_STEP, nullptr);
    Send(PROGRESS_STEP, nullptr);
    ProgressReading r = Read();
    EXPECT_EQ(r.source, "C:\\upd\\MIRO42.DLL");
    EXPECT_EQ(r.destination, "C:\\App\\MIRO42.DLL");
    EXPECT_EQ(r.position, 2);
    // Any other kind of update does nothing.
    SendMessageA(dialog, WM_UPDATE_PROGRESS, 3, (LPARAM) "ignored");
    ProgressReading after = Read();
    EXPECT_EQ(after.source, r.source);
    EXPECT_EQ(after.destination, r.destination);
    EXPECT_EQ(after.position, 2);
}

TEST_F(ProgressDialogTest, TheCloseBoxDoesNotCloseIt)
{
    Open(3);
    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    Pump(dialog);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(IsWindowVisible(dialog));
}

// What the label should show: its background and the path, shortened in
// the middle, in the dialog's font; drawn on a bitmap of the label's size.
std::vector<COLORREF> ExpectedLabel(HWND label, const std::string &text)
{
    RECT r;
    GetClientRect(label, &r);
    HDC screen = GetDC(label);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, r.right, r.bottom);
    HGDIOBJ oldBmp = SelectObject(dc, bmp);
    HGDIOBJ oldFont = SelectObject(dc, (HFONT)SendMessageA(GetParent(label), WM_GETFONT, 0, 0));
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text.c_str(), -1, &r, DT_PATH_ELLIPSIS | DT_SINGLELINE);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < r.bottom; y++)
        for (int x = 0; x < r.right; x++)
            pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBmp);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(label, screen);
    return pixels;
}

std::vector<COLORREF> Shown(HWND label)
{
    RECT r;
    GetClientRect(label, &r);
    HDC dc = GetDC(label);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < r.bottom; y++)
        for (int x = 0; x < r.right; x++)
            pixels.push_back(GetPixel(dc, x, y));
    ReleaseDC(label, dc);
    return pixels;
}

size_t Differences(const std::vector<COLORREF> &a, const std::vector<COLORREF> &b)
{
    size_t n = a.size() == b.size() ? 0 : std::max(a.size(), b.size());
    for (size_t i = 0; i < a.size() && i < b.size(); i++)
        n += a[i] != b[i];
    return n;
}

// The label shows the path shortened in the middle as soon as it is set,
// with nothing of what it showed before.
TEST_F(ProgressDialogTest, PathsAreShownShortenedInTheMiddleAtOnce)
{
    Open(2);
    HWND label = GetDlgItem(dialog, IDC_SOURCE);
    std::string longPath = "C:\\Program Files\\" + std::string(80, 'W') + "\\Sub Folder\\MIRO42.DLL";
    Send(PROGRESS_SOURCE, longPath.c_str());
    std::vector<COLORREF> expected = ExpectedLabel(label, longPath);
    EXPECT_EQ(Differences(Shown(label), expected), 0u);
    // Only the picture is shortened; the label's text stays whole.
    EXPECT_EQ(WindowText(label), longPath);
    EXPECT_NE(expected, ExpectedLabel(label, longPath.substr(0, 60))) << "the path is not wider than the label";
    Send(PROGRESS_SOURCE, "C:\\a\\b.dll");
    EXPECT_EQ(Differences(Shown(label), ExpectedLabel(label, "C:\\a\\b.dll")), 0u);
    // Painting on its own (the label uncovered) gives the same picture.
    InvalidateRect(label, nullptr, TRUE);
    Pump(dialog);
    EXPECT_EQ(Differences(Shown(label), ExpectedLabel(label, "C:\\a\\b.dll")), 0u);
}

TEST(Subclassing, KeepsThePreviousProcedureAndPutsItBack)
{
    HWND label = CreateWindowExA(0, "Static", "text", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(label, nullptr);
    LONG own = GetWindowLongA(label, GWL_WNDPROC);
    EXPECT_EQ(SubclassWindow(label, PathEllipsisLabelProc), 1);
    EXPECT_EQ(GetWindowLongA(label, GWL_WNDPROC), (LONG)PathEllipsisLabelProc);
    EXPECT_EQ(GetWindowLongA(label, GWL_USERDATA), own);
    // Messages other than painting still reach the label's own procedure.
    EXPECT_EQ(WindowText(label), "text");
    EXPECT_EQ(UnsubclassWindow(label), 1);
    EXPECT_EQ(GetWindowLongA(label, GWL_WNDPROC), own);
    DestroyWindow(label);
}

TEST(Centring, OnAWindowAndOverhangingTheScreenEqually)
{
    HWND reference = CreateWindowExA(0, "Static", "", WS_POPUP, 100, 50, 400, 300, nullptr, nullptr, nullptr, nullptr);
    HWND small = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 101, 61, nullptr, nullptr, nullptr, nullptr);
    HWND huge = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 2001, 1001, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(reference && small && huge);
    RECT r, screen;
    CenterWindow(small, reference);
    GetWindowRect(small, &r);
    EXPECT_EQ(r.left, 100 + (400 - 101) / 2);
    EXPECT_EQ(r.top, 50 + (300 - 61) / 2);
    CenterWindow(huge, nullptr);
    GetWindowRect(huge, &r);
    GetWindowRect(GetDesktopWindow(), &screen);
    // Halves are cut toward zero, also when negative.
    EXPECT_EQ(r.left, (screen.right - 2001) / 2);
    EXPECT_EQ(r.top, (screen.bottom - 1001) / 2);
    EXPECT_EQ(r.right - r.left, 2001);
    for (HWND w : {reference, small, huge})
        DestroyWindow(w);
}

} // namespace
