#include "shellfixture.h"

#include "testutil.h"

bool WaitFor(const std::function<bool()> &done, DWORD ms)
{
    for (DWORD waited = 0; waited < ms; waited += 50) {
        if (done())
            return true;
        Sleep(50);
    }
    return done();
}

ShellWindow::ShellWindow()
{
    std::string cmd = "\"" + BinDir() + "shellwindow.exe\"";
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_))
        return;
    ready_ = WaitFor([] { return GetShellWindow() != nullptr; }, 10000);
}

ShellWindow::~ShellWindow()
{
    if (!pi_.hProcess)
        return;
    HWND shell = GetShellWindow();
    DWORD owner = 0;
    if (shell && GetWindowThreadProcessId(shell, &owner) && owner == pi_.dwProcessId)
        PostMessageA(shell, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi_.hProcess, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(pi_.hProcess, 1);
        WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
}

std::vector<std::string> RecordLines(const std::string &record)
{
    std::vector<std::string> lines;
    if (!WaitFor([&] { return FileExists(record); }, 10000))
        return lines;
    std::string text = ReadFileBytes(record);
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}
