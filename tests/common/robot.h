// Dialog robot: watches the top-level dialogs (class "#32770") of one process,
// records what each shows and answers message boxes from a list.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum RobotIcon { ICON_NONE = 0, ICON_INFORMATION, ICON_WARNING, ICON_ERROR, ICON_QUESTION, ICON_UNKNOWN };

struct DialogButton {
    int id;
    std::string text;
    bool enabled;
};

struct DialogRecord {
    std::string caption;
    std::string text;  // static 0xFFFF of a message box; empty for other dialogs
    std::vector<DialogButton> buttons;
    RobotIcon icon = ICON_NONE;
    bool isMessageBox = false;
    int answeredWith = 0;  // button id posted, 0 when not answered
};

// One answer to the next message box: the button to press, after an optional
// wait (so that a screenshot or a reading can be taken first).
struct RobotAnswer {
    int button;
    DWORD delayMs = 0;
};

class DialogRobot {
public:
    // Called on the robot thread for every new dialog that is no message box
    // (the progress dialog, the folder-browse dialog); return true once it
    // has been dealt with, false to be called again at the next poll.
    using OtherDialogHandler = std::function<bool(HWND)>;

    // Called on the robot thread just before a message box is answered, with
    // the box and its index among the boxes seen so far (a screenshot, say).
    using BeforeAnswerHandler = std::function<void(HWND, int)>;

    explicit DialogRobot(DWORD pid, std::vector<RobotAnswer> answers = {});
    ~DialogRobot();
    void SetOtherDialogHandler(OtherDialogHandler handler);
    void SetBeforeAnswerHandler(BeforeAnswerHandler handler);
    void Start();
    void Stop();
    std::vector<DialogRecord> Records();
    // Message boxes only, in the order they appeared.
    std::vector<DialogRecord> MessageBoxes();

private:
    void Loop();
    void Visit(HWND dlg);

    DWORD pid_;
    std::vector<RobotAnswer> answers_;
    size_t nextAnswer_ = 0;
    OtherDialogHandler other_;
    BeforeAnswerHandler beforeAnswer_;
    int boxesSeen_ = 0;
    std::vector<HWND> done_;
    std::vector<DialogRecord> records_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The visible top-level windows of a process, and of the copies of itself
// it started (a packaged updater's run is its staged copy's), whose class
// is cls (any class when cls is null), in the system's order.
std::vector<HWND> ProcessWindows(DWORD pid, const char *cls = nullptr);

// Reads a message box (or any dialog) without answering it.
DialogRecord ReadDialog(HWND dlg);
bool IsMessageBox(HWND dlg);
std::string WindowText(HWND wnd);
