#include "exec_testutil.h"

#include "base/tracelog.h"
#include "testutil.h"

#include <algorithm>

FILETIME MakeFileTime(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME st = {};
    st.wYear = (WORD)year;
    st.wMonth = (WORD)month;
    st.wDay = (WORD)day;
    st.wHour = (WORD)hour;
    st.wMinute = (WORD)minute;
    st.wSecond = (WORD)second;
    FILETIME ft = {};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

bool SetWriteTime(const std::string &path, const FILETIME &time)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = SetFileTime(h, nullptr, nullptr, &time) != FALSE;
    CloseHandle(h);
    return ok;
}

bool ReadTimes(const std::string &path, FILETIME *creation, FILETIME *write)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    *creation = data.ftCreationTime;
    *write = data.ftLastWriteTime;
    return true;
}

bool SameTime(const FILETIME &a, const FILETIME &b)
{
    return CompareFileTime(&a, &b) == 0;
}

std::vector<std::string> ListFolder(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = fd.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

void StartTrace()
{
    TraceLogStart();
}

size_t CountLines(const std::vector<std::string> &lines, const std::string &line)
{
    return (size_t)std::count(lines.begin(), lines.end(), line);
}

bool HasLineStartingWith(const std::vector<std::string> &lines, const std::string &prefix)
{
    for (const auto &line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

std::string InstalledIds(const std::string &folder)
{
    char value[1024] = "";
    GetPrivateProfileStringA("MAIN", "INSTALLED", "", value, sizeof(value), (folder + "MIRO42.INI").c_str());
    return value;
}

bool StartProgram(const std::string &cmd, PROCESS_INFORMATION *pi)
{
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    *pi = {};
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, pi) != FALSE;
}

namespace {

// Wine starts Linux programs but cannot wait for them: callers poll.
bool StartLinuxProgram(const std::string &cmd)
{
    PROCESS_INFORMATION pi;
    if (!StartProgram(cmd, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

std::vector<RobotAnswer> Buttons(const std::vector<BoxAnswerer::Step> &steps)
{
    std::vector<RobotAnswer> answers;
    for (const auto &step : steps)
        answers.push_back({step.button, 0});
    return answers;
}

} // namespace

BoxAnswerer::BoxAnswerer(std::vector<Step> steps, DWORD pid)
    : steps_(std::move(steps)), robot_(pid, Buttons(steps_))
{
    robot_.SetBeforeAnswerHandler([this](HWND box, int index) {
        if ((size_t)index < steps_.size() && steps_[index].before)
            steps_[index].before(box);
    });
    // Reading a dialog waits for its thread to pump; the boxes must not.
    robot_.SetOtherDialogHandler([](HWND) { return false; });
    robot_.Start();
}

OpenGate::OpenGate(const std::string &file, const std::string &decisions)
{
    static int serial = 0;
    folder_ = MakeTestDir("opengate" + std::to_string(++serial));
    std::string unixFile = UnixPath(file), unixFolder = UnixPath(folder_);
    if (unixFile.empty() || unixFolder.empty()) {
        why_ = "no Linux paths (not under Wine)";
        return;
    }
    // Wine starts a Linux program named by its Linux path directly.
    std::string cmd = "/usr/bin/python3 \"" LUMIUPD_TEST_SOURCE_DIR "/opengate.py\" \"" + unixFile + "\" " +
                      decisions + " \"" + unixFolder + "\"";
    if (!StartLinuxProgram(cmd)) {
        why_ = "cannot start the gate";
        return;
    }
    for (int i = 0; i < 200 && !ready_; i++) {
        if (FileExists(folder_ + "failed")) {
            why_ = "fanotify refused: " + ReadFileBytes(folder_ + "failed");
            return;
        }
        ready_ = FileExists(folder_ + "ready");
        if (!ready_)
            Sleep(50);
    }
    if (!ready_)
        why_ = "the gate did not start";
}

OpenGate::~OpenGate()
{
    WriteFileBytes(folder_ + "stop", "");
    Sleep(200);  // the gate looks every 50 ms
}

std::vector<std::string> OpenGate::Log() const
{
    std::vector<std::string> lines;
    std::string text = ReadFileBytes(folder_ + "log");
    size_t start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, text.find(' ', start) - start));
        start = end + 1;
    }
    return lines;
}

namespace {


ULONGLONG DriveSize(const std::string &folder)
{
    ULARGE_INTEGER avail, total, freeBytes;
    if (!GetDiskFreeSpaceExA(folder.c_str(), &avail, &total, &freeBytes))
        return 0;
    return total.QuadPart;
}

bool WaitForDriveSize(const std::string &folder, bool small, ULONGLONG limit)
{
    for (int i = 0; i < 100; i++) {
        ULONGLONG size = DriveSize(folder);
        if (size && (size <= limit) == small)
            return true;
        Sleep(50);
    }
    return false;
}

} // namespace

SmallDrive::SmallDrive(const std::string &name, int kilobytes)
{
    folder_ = MakeTestDir(name);
    unixFolder_ = UnixPath(folder_);
    if (unixFolder_.empty()) {
        why_ = "no Linux paths (not under Wine)";
        return;
    }
    std::string cmd = "/bin/mount -t tmpfs -o size=" + std::to_string(kilobytes) + "k tmpfs \"" + unixFolder_ + "\"";
    if (!StartLinuxProgram(cmd)) {
        why_ = "cannot start mount";
        return;
    }
    limit_ = (ULONGLONG)kilobytes * 1024;
    ready_ = WaitForDriveSize(folder_, true, limit_);
    if (!ready_)
        why_ = "the small drive did not appear (mounting needs root)";
}

SmallDrive::~SmallDrive()
{
    if (unixFolder_.empty())
        return;
    StartLinuxProgram("/bin/umount -l \"" + unixFolder_ + "\"");
    // Until the small drive is gone: an unmount still on its way had taken
    // the next case's drive of the same name away, so its copy found room.
    WaitForDriveSize(folder_, false, limit_);
}
