#include "runningapp.h"

#include "testutil.h"

#include <vector>

bool IsHeldAgainstWriting(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

RunningApp::~RunningApp()
{
    Stop();
}

HWND RunningApp::window() const
{
    if (!process_)
        return nullptr;
    std::vector<HWND> windows = ProcessWindows(pid_, "LumitelShadowWindowClass");
    return windows.empty() ? nullptr : windows[0];
}

bool RunningApp::Start(const std::string &folder, DWORD lifetimeMs, bool withWindow)
{
    Stop();
    failure_.clear();
    std::string exe = folder + "Lumitel.exe";
    if (!CopyFileA((BinDir() + "LumitelApp.exe").c_str(), exe.c_str(), FALSE)) {
        failure_ = "copy failed, error " + std::to_string(GetLastError());
        return false;
    }
    std::string cmd = "\"" + exe + "\" " + std::to_string(lifetimeMs) + (withWindow ? "" : " nowindow");
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si,
                        &pi)) {
        failure_ = "start failed, error " + std::to_string(GetLastError());
        return false;
    }
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    for (int i = 0; i < 500; i++) {
        if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process_, &code);
            failure_ = "ended early with " + std::to_string(code);
            break;
        }
        if (IsHeldAgainstWriting(folder + "MIRO42.DLL") && (!withWindow || window()))
            return true;
        Sleep(20);
    }
    if (failure_.empty())
        failure_ = "not ready in 10 s";
    Stop();
    return false;
}

bool RunningApp::WaitForEnd(DWORD timeoutMs)
{
    return !process_ || WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

void RunningApp::Stop()
{
    if (!process_)
        return;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 9999);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    process_ = nullptr;
    pid_ = 0;
}
