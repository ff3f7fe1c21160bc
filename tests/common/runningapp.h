// The running application in an installed copy's folder: the stand-in
// LumitelApp.exe, copied into the folder as "Lumitel.exe" and started there,
// holds the folder's MIRO42.DLL loaded and (unless told otherwise) shows a
// top-level window of class "LumitelShadowWindowClass" until its lifetime
// ends. A test that uses it: add_dependencies(<test> LumitelApp MIRO42_fixture).
#pragma once

#include <windows.h>

#include <string>

class RunningApp {
public:
    RunningApp() = default;
    ~RunningApp();
    RunningApp(const RunningApp &) = delete;
    RunningApp &operator=(const RunningApp &) = delete;

    // Starts the application in folder (which must hold MIRO42.DLL) and waits
    // until the library is held and, with a window, the window exists.
    // False (and nothing left running) when it does not get there in 10 s.
    bool Start(const std::string &folder, DWORD lifetimeMs, bool withWindow = true);
    // Waits up to timeoutMs for the application to end by itself.
    bool WaitForEnd(DWORD timeoutMs);
    // Kills the application (by its handle) when it still runs.
    void Stop();
    DWORD pid() const { return pid_; }
    // Why the last Start failed, for the test's message.
    const std::string &failure() const { return failure_; }
    HWND window() const;

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    std::string failure_;
};

// True while another process holds path so that it cannot be opened for writing.
bool IsHeldAgainstWriting(const std::string &path);
