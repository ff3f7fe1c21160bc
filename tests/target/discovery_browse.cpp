#include "discovery_browse.h"

#include "robot.h"

#include <commctrl.h>
#include <shlobj.h>

const char BROWSE_TITLE[] = "ルミテルがインストールされているフォルダを選択してください。";

namespace {

std::mutex gEnableMutex;
std::vector<bool> gEnableMsgs;

LRESULT CALLBACK RecordOkEnable(int code, WPARAM wp, LPARAM lp)
{
    const CWPSTRUCT *msg = reinterpret_cast<const CWPSTRUCT *>(lp);
    if (code == HC_ACTION && msg->message == WM_ENABLE && GetDlgCtrlID(msg->hwnd) == IDOK) {
        std::lock_guard<std::mutex> lock(gEnableMutex);
        gEnableMsgs.push_back(msg->wParam != 0);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

struct TitleSearch {
    std::string title;
    bool found;
};

BOOL CALLBACK FindTitle(HWND wnd, LPARAM param)
{
    auto *search = reinterpret_cast<TitleSearch *>(param);
    if (WindowText(wnd) == search->title)
        search->found = true;
    return TRUE;
}

// The text of the tree's selected item (the folder's display name).
std::string SelectedName(DWORD pid, HWND dlg)
{
    HWND tree = FindWindowExA(dlg, nullptr, "SysTreeView32", nullptr);
    if (!tree)
        return "";
    HTREEITEM item = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (!item)
        return "";
    struct Block {
        TVITEMA tv;
        char text[MAX_PATH];
    } block = {};
    block.tv.mask = TVIF_TEXT;
    block.tv.hItem = item;
    block.tv.cchTextMax = MAX_PATH;
    if (pid == GetCurrentProcessId()) {
        block.tv.pszText = block.text;
        SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)&block.tv);
        return block.text;
    }
    // Another process: the record and its text buffer live in its memory.
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process)
        return "";
    std::string name;
    auto *remote = (Block *)VirtualAllocEx(process, nullptr, sizeof(Block), MEM_COMMIT, PAGE_READWRITE);
    if (remote) {
        block.tv.pszText = remote->text;
        if (WriteProcessMemory(process, remote, &block, sizeof(block), nullptr) &&
            SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)&remote->tv) &&
            ReadProcessMemory(process, remote, &block, sizeof(block), nullptr)) {
            block.text[MAX_PATH - 1] = '\0';
            name = block.text;
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return name;
}

std::string LastComponent(std::string folder)
{
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    size_t slash = folder.rfind('\\');
    return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

} // namespace

int DefaultButton(HWND dlg)
{
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) {
        HWND button = GetDlgItem(dlg, id);
        if (button && (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return id;
    }
    return 0;
}

OkEnableRecorder::OkEnableRecorder()
    : hook_(SetWindowsHookExA(WH_CALLWNDPROC, RecordOkEnable, nullptr, GetCurrentThreadId()))
{
}

OkEnableRecorder::~OkEnableRecorder()
{
    if (hook_)
        UnhookWindowsHookEx(hook_);
}

size_t OkEnableRecorder::Count()
{
    std::lock_guard<std::mutex> lock(gEnableMutex);
    return gEnableMsgs.size();
}

std::vector<bool> OkEnableRecorder::Since(size_t index)
{
    std::lock_guard<std::mutex> lock(gEnableMutex);
    if (index >= gEnableMsgs.size())
        return {};
    return std::vector<bool>(gEnableMsgs.begin() + index, gEnableMsgs.end());
}

BrowseDriver::BrowseDriver(DWORD pid, std::vector<BrowseStep> steps) : pid_(pid), steps_(std::move(steps))
{
}

std::vector<BrowseSeen> BrowseDriver::Seen()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

// BFFM_SETSELECTIONA takes a path in the dialog's own process.
void BrowseDriver::Select(HWND dlg, const std::string &folder)
{
    if (pid_ == GetCurrentProcessId()) {
        SendMessageA(dlg, BFFM_SETSELECTIONA, TRUE, (LPARAM)folder.c_str());
        return;
    }
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid_);
    if (!process)
        return;
    void *remote = VirtualAllocEx(process, nullptr, folder.size() + 1, MEM_COMMIT, PAGE_READWRITE);
    if (remote && WriteProcessMemory(process, remote, folder.c_str(), folder.size() + 1, nullptr))
        SendMessageA(dlg, BFFM_SETSELECTIONA, TRUE, (LPARAM)remote);
    if (remote)
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
}

bool BrowseDriver::Handle(HWND dlg)
{
    // Other dialogs (the progress dialog) are left alone.
    if (!FindWindowExA(dlg, nullptr, "SysTreeView32", nullptr))
        return true;
    // Let the dialog fill its tree and select its first folder.
    Sleep(400);
    BrowseSeen seen;
    TitleSearch search{BROWSE_TITLE, false};
    EnumChildWindows(dlg, FindTitle, (LPARAM)&search);
    seen.titleShown = search.found;
    BrowseStep step{"", IDCANCEL};
    if (next_ < steps_.size())
        step = steps_[next_++];
    size_t before = OkEnableRecorder::Count();
    if (!step.select.empty()) {
        // The dialog may still be settling and drop the request: ask again
        // until the tree shows the folder selected.
        std::string want = LastComponent(step.select);
        for (int attempt = 0; attempt < 20; attempt++) {
            before = OkEnableRecorder::Count();
            Select(dlg, step.select);
            Sleep(150);
            seen.attempts = attempt + 1;
            seen.selected = _stricmp(SelectedName(pid_, dlg).c_str(), want.c_str()) == 0;
            if (seen.selected)
                break;
        }
    }
    Sleep(150);
    seen.okEnableMsgs = OkEnableRecorder::Since(before);
    seen.okEnabled = IsWindowEnabled(GetDlgItem(dlg, IDOK)) != FALSE;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(seen);
    }
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(step.button, BN_CLICKED), 0);
    return true;
}
