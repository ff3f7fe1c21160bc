// Helpers of the command tests: file times, the trace, answering this
// process's message boxes, and an open gate for making a copy fail for real.
#pragma once

#include "robot.h"

#include <functional>
#include <string>
#include <vector>

FILETIME MakeFileTime(int year, int month, int day, int hour, int minute, int second);
bool SetWriteTime(const std::string &path, const FILETIME &time);
// Creation and last-write time; false when the file cannot be opened.
bool ReadTimes(const std::string &path, FILETIME *creation, FILETIME *write);
bool SameTime(const FILETIME &a, const FILETIME &b);
// Names in a folder, without "." and "..", sorted.
std::vector<std::string> ListFolder(const std::string &folder);
// Starts a fresh trace log (in-process runs of the handlers).
void StartTrace();
size_t CountLines(const std::vector<std::string> &lines, const std::string &line);
bool HasLineStartingWith(const std::vector<std::string> &lines, const std::string &prefix);
// INSTALLED of [MAIN] in the folder's settings file "MIRO42.INI".
std::string InstalledIds(const std::string &folder);
// Starts a program (a Windows one, or a Linux one by its Linux path: Wine
// starts it but cannot wait for it). The caller closes the handles.
bool StartProgram(const std::string &cmd, PROCESS_INFORMATION *pi);

// Answers the message boxes of a process (this one by default) in order:
// before each answer the step's action runs (with the box), then its button
// is pressed. Boxes beyond the steps are closed with their cancelling button
// so no test hangs. Other dialogs (the progress dialog) are left alone.
class BoxAnswerer {
public:
    struct Step {
        int button;
        std::function<void(HWND)> before;
    };
    explicit BoxAnswerer(std::vector<Step> steps, DWORD pid = GetCurrentProcessId());
    std::vector<DialogRecord> Boxes() { return robot_.MessageBoxes(); }

private:
    std::vector<Step> steps_;
    DialogRobot robot_;
};

// Lets the first opens of a file through or not, as told, by a Linux
// fanotify gate (a root-only facility); later opens go through.
class OpenGate {
public:
    OpenGate(const std::string &file, const std::string &decisions);
    ~OpenGate();
    bool Ready() const { return ready_; }
    std::string Why() const { return why_; }
    // The decisions taken so far, in order ("allow" / "deny").
    std::vector<std::string> Log() const;

private:
    std::string folder_;
    bool ready_ = false;
    std::string why_;
};

// A small RAM disk (Linux tmpfs, root only) mounted on a fresh test folder,
// so that a copy can fill its drive for real. Unmounted by the destructor.
class SmallDrive {
public:
    SmallDrive(const std::string &name, int kilobytes);
    ~SmallDrive();
    bool Ready() const { return ready_; }
    std::string Why() const { return why_; }
    const std::string &Folder() const { return folder_; }

private:
    std::string folder_, unixFolder_;
    ULONGLONG limit_ = 0;
    bool ready_ = false;
    std::string why_;
};
