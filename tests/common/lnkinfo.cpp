#include "lnkinfo.h"

#include "testutil.h"

#include <windows.h>

std::string LnkInfo(const std::string &link)
{
    // Wine's drive Z: is the Linux root, so Z:\tmp\x is /tmp/x.
    std::string base = "lumitest_lnkinfo_" + std::to_string(GetCurrentProcessId());
    std::string copy = "Z:\\tmp\\" + base + ".lnk", report = "Z:\\tmp\\" + base + ".txt";
    DeleteFileA(report.c_str());
    if (!CopyFileA(link.c_str(), copy.c_str(), FALSE))
        return "<no such link>";
    // Wine starts a Linux program named by its Linux path; the report is
    // renamed into place once complete.
    std::string cmd = "/bin/sh -c \"lnkinfo -c windows-932 /tmp/" + base + ".lnk >/tmp/" + base +
                      ".part 2>&1; mv /tmp/" + base + ".part /tmp/" + base + ".txt\"";
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        DeleteFileA(copy.c_str());
        return "<lnkinfo not started>";
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (int i = 0; i < 200 && !FileExists(report); i++)
        Sleep(50);
    std::string text = FileExists(report) ? ReadFileBytes(report) : "<no report from lnkinfo>";
    DeleteFileA(copy.c_str());
    DeleteFileA(report.c_str());
    return text;
}

std::string LnkLocalPath(const std::string &info)
{
    size_t at = info.find("\tLocal path");
    size_t colon = at == std::string::npos ? at : info.find(": ", at);
    size_t end = at == std::string::npos ? at : info.find('\n', at);
    if (colon == std::string::npos || colon > end)
        return "";
    std::string utf8 = info.substr(colon + 2, end - colon - 2);
    WCHAR wide[1024];
    char ansi[2048];
    if (!MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide, 1024) ||
        !WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof(ansi), nullptr, nullptr))
        return "";
    return ansi;
}
