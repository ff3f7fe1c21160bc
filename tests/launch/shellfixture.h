// A stand-in desktop shell for the launch tests: tests/fixtures/shellwindow.exe
// running with its window registered as the shell window.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

bool WaitFor(const std::function<bool()> &done, DWORD ms);

class ShellWindow {
public:
    ShellWindow();   // starts it and waits until the shell window is there
    ~ShellWindow();  // closes its window and waits for it (kills it after 5 s)
    bool Ready() const { return ready_; }
    DWORD Pid() const { return pi_.dwProcessId; }

private:
    PROCESS_INFORMATION pi_ = {};
    bool ready_ = false;
};

// The lines of a record the recorder writes (waits up to 10 s for it).
std::vector<std::string> RecordLines(const std::string &record);
