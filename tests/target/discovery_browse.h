// Drives the shell's folder-browse dialog for the dialog robot: one selection
// per appearance of the dialog (Wine often ignores a second one), then OK or
// Cancel. Works on this process or another one.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

// The updater's title text shown in the dialog.
extern const char BROWSE_TITLE[];

struct BrowseStep {
    std::string select;  // folder to select, "" for none
    int button;          // IDOK or IDCANCEL
};

struct BrowseSeen {
    bool titleShown = false;        // the static text with the updater's title
    bool okEnabled = false;         // OK's state after the selection
    std::vector<bool> okEnableMsgs; // WM_ENABLE sent to OK after the selection
    bool selected = false;          // the tree showed the folder selected
    int attempts = 0;               // selection requests sent
};

class BrowseDriver {
public:
    BrowseDriver(DWORD pid, std::vector<BrowseStep> steps);
    // The robot's handler for dialogs that are no message box; only the
    // browse dialog (the one with a folder tree) is acted on.
    bool Handle(HWND dlg);
    std::vector<BrowseSeen> Seen();

private:
    void Select(HWND dlg, const std::string &folder);

    DWORD pid_;
    std::vector<BrowseStep> steps_;
    size_t next_ = 0;
    std::vector<BrowseSeen> seen_;
    std::mutex mutex_;
};

// The button of a dialog drawn as its default one (the one Enter presses),
// 0 when none is.
int DefaultButton(HWND dlg);

// Records every WM_ENABLE sent to an OK button (id IDOK) of a dialog on the
// calling thread while it lives: Wine's browse dialog may re-enable OK right
// after the callback disabled it, so the callback's decision is seen in these
// messages rather than in the button's final state. In-process tests only.
class OkEnableRecorder {
public:
    OkEnableRecorder();
    ~OkEnableRecorder();
    static size_t Count();
    static std::vector<bool> Since(size_t index);

private:
    HHOOK hook_;
};
