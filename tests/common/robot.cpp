#include "robot.h"

#include <tlhelp32.h>

#include <algorithm>

namespace {

const int kMessageBoxText = 0xFFFF;
const int kMessageBoxIcon = 0x440;

struct WindowSearch {
    std::vector<DWORD> pids;
    const char *cls;
    std::vector<HWND> found;
};

// The process and the copies of itself that it started: a packaged updater
// runs its update from a verified copy of itself, whose windows are the run's.
std::vector<DWORD> ProcessFamily(DWORD pid)
{
    std::vector<DWORD> family{pid};
    std::vector<PROCESSENTRY32> all;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return family;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        all.push_back(entry);
    CloseHandle(snapshot);
    for (const PROCESSENTRY32 &parent : all) {
        if (parent.th32ProcessID != pid)
            continue;
        for (const PROCESSENTRY32 &child : all)
            if (child.th32ParentProcessID == pid && _stricmp(child.szExeFile, parent.szExeFile) == 0)
                family.push_back(child.th32ProcessID);
    }
    return family;
}

BOOL CALLBACK CollectWindows(HWND wnd, LPARAM param)
{
    WindowSearch *search = reinterpret_cast<WindowSearch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    char cls[64] = "";
    GetClassNameA(wnd, cls, sizeof(cls));
    if (std::find(search->pids.begin(), search->pids.end(), pid) != search->pids.end() && IsWindowVisible(wnd) &&
        (!search->cls || strcmp(cls, search->cls) == 0))
        search->found.push_back(wnd);
    return TRUE;
}

BOOL CALLBACK CollectButtons(HWND wnd, LPARAM param)
{
    auto *buttons = reinterpret_cast<std::vector<DialogButton> *>(param);
    char cls[32] = "";
    GetClassNameA(wnd, cls, sizeof(cls));
    if (_stricmp(cls, "Button") == 0 && IsWindowVisible(wnd))
        buttons->push_back({GetDlgCtrlID(wnd), WindowText(wnd), IsWindowEnabled(wnd) != FALSE});
    return TRUE;
}

// Draws a standard icon on the background colour found in the dialog and
// compares it with what the screen shows in the icon's place.
bool IconLooksLike(HDC screen, const RECT &r, LPCSTR which)
{
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return false;
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    HBRUSH bg = CreateSolidBrush(GetPixel(screen, r.left, r.top));
    RECT local = {0, 0, w, h};
    FillRect(mem, &local, bg);
    DeleteObject(bg);
    DrawIconEx(mem, 0, 0, LoadIconA(nullptr, which), w, h, 0, nullptr, DI_NORMAL);
    int same = 0, total = 0;
    for (int y = 0; y < h; y += 2)
        for (int x = 0; x < w; x += 2, total++)
            same += GetPixel(mem, x, y) == GetPixel(screen, r.left + x, r.top + y);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    return total > 0 && same * 100 / total >= 90;
}

RobotIcon ReadIcon(HWND dlg)
{
    HWND icon = GetDlgItem(dlg, kMessageBoxIcon);
    if (!icon || !IsWindowVisible(icon))
        return ICON_NONE;
    RECT r;
    GetWindowRect(icon, &r);
    HDC screen = GetDC(nullptr);
    RobotIcon found = ICON_UNKNOWN;
    const std::pair<LPCSTR, RobotIcon> kinds[] = {{IDI_ASTERISK, ICON_INFORMATION},
                                                  {IDI_EXCLAMATION, ICON_WARNING},
                                                  {IDI_HAND, ICON_ERROR},
                                                  {IDI_QUESTION, ICON_QUESTION}};
    for (const auto &kind : kinds) {
        if (IconLooksLike(screen, r, kind.first)) {
            found = kind.second;
            break;
        }
    }
    ReleaseDC(nullptr, screen);
    return found;
}

} // namespace

std::vector<HWND> ProcessWindows(DWORD pid, const char *cls)
{
    WindowSearch search{ProcessFamily(pid), cls, {}};
    EnumWindows(CollectWindows, (LPARAM)&search);
    return search.found;
}

std::string WindowText(HWND wnd)
{
    char buf[4096] = "";
    // WM_GETTEXT is marshalled across processes; GetWindowText is not for
    // controls. No "abort if hung": the updater pumps no messages between
    // commands, and Wine counts a thread that has not pumped for a few seconds
    // as hung; the time-out still bounds the wait.
    SendMessageTimeoutA(wnd, WM_GETTEXT, sizeof(buf), (LPARAM)buf, SMTO_NORMAL, 2000, nullptr);
    return buf;
}

bool IsMessageBox(HWND dlg)
{
    // The text static of a message box has id 0xFFFF, as does any label
    // without an id (the progress dialog has two): a message box also has
    // buttons to answer.
    if (!GetDlgItem(dlg, kMessageBoxText))
        return false;
    std::vector<DialogButton> buttons;
    EnumChildWindows(dlg, CollectButtons, (LPARAM)&buttons);
    return !buttons.empty();
}

DialogRecord ReadDialog(HWND dlg)
{
    DialogRecord rec;
    rec.caption = WindowText(dlg);
    rec.isMessageBox = IsMessageBox(dlg);
    if (rec.isMessageBox) {
        rec.text = WindowText(GetDlgItem(dlg, kMessageBoxText));
        rec.icon = ReadIcon(dlg);
    }
    EnumChildWindows(dlg, CollectButtons, (LPARAM)&rec.buttons);
    return rec;
}

DialogRobot::DialogRobot(DWORD pid, std::vector<RobotAnswer> answers)
    : pid_(pid), answers_(std::move(answers))
{
}

DialogRobot::~DialogRobot()
{
    Stop();
}

void DialogRobot::SetOtherDialogHandler(OtherDialogHandler handler)
{
    other_ = std::move(handler);
}

void DialogRobot::SetBeforeAnswerHandler(BeforeAnswerHandler handler)
{
    beforeAnswer_ = std::move(handler);
}

void DialogRobot::Start()
{
    thread_ = std::thread([this] { Loop(); });
}

void DialogRobot::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

std::vector<DialogRecord> DialogRobot::Records()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

std::vector<DialogRecord> DialogRobot::MessageBoxes()
{
    std::vector<DialogRecord> boxes;
    for (const auto &r : Records())
        if (r.isMessageBox)
            boxes.push_back(r);
    return boxes;
}

void DialogRobot::Loop()
{
    while (!stop_) {
        for (HWND dlg : ProcessWindows(pid_, "#32770"))
            if (std::find(done_.begin(), done_.end(), dlg) == done_.end())
                Visit(dlg);
        // Forget windows that are gone, so a new one with a reused handle counts.
        done_.erase(std::remove_if(done_.begin(), done_.end(), [](HWND w) { return !IsWindow(w); }),
                    done_.end());
        Sleep(30);
    }
}

void DialogRobot::Visit(HWND dlg)
{
    if (!IsMessageBox(dlg)) {
        if (!other_ || other_(dlg)) {
            DialogRecord rec = ReadDialog(dlg);
            std::lock_guard<std::mutex> lock(mutex_);
            records_.push_back(rec);
            done_.push_back(dlg);
        }
        return;
    }
    Sleep(150);  // let the box paint before its icon is read
    DialogRecord rec = ReadDialog(dlg);
    int button = 0;
    DWORD delay = 0;
    if (nextAnswer_ < answers_.size()) {
        button = answers_[nextAnswer_].button;
        delay = answers_[nextAnswer_].delayMs;
        nextAnswer_++;
    } else if (!rec.buttons.empty()) {
        // Unplanned box: close it with its cancelling button so no run hangs;
        // the test sees it in the records.
        button = rec.buttons.back().id;
        for (const auto &b : rec.buttons)
            if (b.id == IDOK || b.id == IDCANCEL || b.id == IDNO || b.id == IDABORT)
                button = b.id;
    }
    if (delay)
        Sleep(delay);
    if (beforeAnswer_)
        beforeAnswer_(dlg, boxesSeen_);
    boxesSeen_++;
    rec.answeredWith = button;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back(rec);
        done_.push_back(dlg);
    }
    if (button)
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}
