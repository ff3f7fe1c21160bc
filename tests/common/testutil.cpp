#include "testutil.h"

#include "base/tracelog.h"

#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>

std::string BinDir()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char *slash = strrchr(path, '\\');
    if (slash)
        slash[1] = '\0';
    return path;
}

void RemoveTree(const std::string &path)
{
    std::string base = path;
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((base + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = base + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(base.c_str());
}

std::string MakeTestDir(const std::string &name)
{
    CreateDirectoryA("C:\\lumitest", nullptr);
    std::string dir = "C:\\lumitest\\" + name;
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\";
}

bool WriteFileBytes(const std::string &path, const std::string &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

std::string ReadFileBytes(const std::string &path)
{
    std::string data;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return data;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        data.append(buf, n);
    fclose(f);
    return data;
}

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string CrLf(const std::vector<std::string> &lines)
{
    std::string text;
    for (const auto &line : lines)
        text += line + "\r\n";
    return text;
}

std::string MakeUpdateFolder(const std::string &name, const std::string &script)
{
    std::string dir = MakeTestDir(name);
    CopyFileA((BinDir() + "Lumiupd.exe").c_str(), (dir + "Lumiupd.exe").c_str(), FALSE);
    if (!script.empty())
        WriteFileBytes(dir + "Lumiupd.INF", script);
    return dir;
}

RunResult RunProgram(const std::string &exe, const std::string &args, const RunOptions &options)
{
    RunResult result;
    std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        result.exitCode = (DWORD)-1000;
        return result;
    }
    DialogRobot robot(pi.dwProcessId, options.answers);
    if (options.otherDialogs)
        robot.SetOtherDialogHandler(options.otherDialogs);
    if (options.beforeAnswer)
        robot.SetBeforeAnswerHandler(options.beforeAnswer);
    robot.Start();
    if (WaitForSingleObject(pi.hProcess, options.timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(pi.hProcess, 9999);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    robot.Stop();
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    result.dialogs = robot.Records();
    result.boxes = robot.MessageBoxes();
    return result;
}

std::string TraceLogPath()
{
    char path[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, path);
    return std::string(path) + "Lumiupd.log";
}

std::vector<std::string> TraceLines()
{
    std::vector<std::string> lines;
    std::string text = ReadFileBytes(TraceLogPath());
    size_t start = 0;
    for (;;) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            if (start < text.size())
                lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

std::string SystemText(DWORD code)
{
    SetLastError(code);
    char *text = GetLastErrorText();
    std::string copy = text ? text : "";
    LocalFree(text);
    return copy;
}

std::string JsonQuoted(const std::string &ansi)
{
    std::wstring wide(ansi.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), (int)ansi.size(), &wide[0], (int)wide.size()));
    std::string utf8(wide.size() * 3 + 1, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), (int)wide.size(), &utf8[0], (int)utf8.size(), nullptr,
                                    nullptr));
    std::string quoted = "\"";
    for (char c : utf8) {
        const char *named = c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        quoted += named ? named : std::string(1, c);
    }
    return quoted + "\"";
}

std::string ResultTimeAsN(std::string text, unsigned long *ms)
{
    const std::string key = "\"milliseconds\": ";
    size_t at = text.find(key);
    *ms = 0;
    if (at == std::string::npos)
        return text;
    at += key.size();
    size_t end = text.find_first_not_of("0123456789", at);
    *ms = strtoul(text.substr(at, end - at).c_str(), nullptr, 10);
    return text.replace(at, end - at, "N");
}

std::string UnixPath(const std::string &path)
{
    typedef char *(CDECL * ToUnix)(LPCWSTR);
    ToUnix toUnix = (ToUnix)(void (*)(void))GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                           "wine_get_unix_file_name");
    WCHAR wide[MAX_PATH * 2];
    if (!toUnix || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH * 2))
        return "";
    char *unix = toUnix(wide);
    std::string text = unix ? unix : "";
    HeapFree(GetProcessHeap(), 0, unix);
    return text;
}

namespace {

// Wine starts Linux programs, but cannot wait for them.
bool RunLinux(const std::string &cmd)
{
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

} // namespace

UnixLink::UnixLink(const std::string &link, const std::string &target) : link_(link), unixLink_(UnixPath(link))
{
    std::string unixTarget = UnixPath(target);
    if (unixLink_.empty() || unixTarget.empty())
        return;
    DeleteFileA(link.c_str());
    if (!RunLinux("Z:\\bin\\ln -sf \"" + unixTarget + "\" \"" + unixLink_ + "\""))
        return;
    for (int i = 0; i < 200 && !FileExists(link); i++)
        Sleep(25);
    planted_ = FileExists(link);
}

UnixLink::~UnixLink()
{
    if (unixLink_.empty())
        return;
    RunLinux("Z:\\bin\\rm -f \"" + unixLink_ + "\"");
    // Once gone the name opens nothing: not even a dangling link is left.
    for (int i = 0; i < 200 && GetFileAttributesA(link_.c_str()) != INVALID_FILE_ATTRIBUTES; i++)
        Sleep(25);
}

// A file named name that a program left beside its verified copy, in a
// folder the updater made below the system's Temp folder, after since.
std::string StagedFile(const std::string &name, FILETIME since)
{
    char windows[MAX_PATH];
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    std::string temp = std::string(windows) + "\\Temp\\";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temp + "~lu*").c_str(), &found);
    std::string newest;
    FILETIME newestTime = since;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        std::string path = temp + found.cFileName + "\\" + name;
        if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
            CompareFileTime(&data.ftLastWriteTime, &newestTime) > 0) {
            newest = path;
            newestTime = data.ftLastWriteTime;
        }
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return newest;
}
