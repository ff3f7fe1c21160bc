#include "acceptance_support.h"

#include "base/messages.h"
#include "exec_testutil.h"
#include "installed.h"
#include "pngshot.h"

#include <commctrl.h>
#include <stdio.h>

#include <atomic>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

std::string SourceFile(const std::string &relative)
{
    std::string path = std::string("Z:") + LUMIUPD_SOURCE_DIR + "/" + relative;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string ExampleScript(const std::string &name)
{
    return ReadFileBytes(SourceFile("docs/examples/" + name));
}

std::string MakeTypicalUpdate(const std::string &name)
{
    std::string upd = MakeUpdateFolder(name, ExampleScript("typical.INF"));
    EXPECT_FALSE(ReadFileBytes(upd + "Lumiupd.INF").empty()) << "no example script";
    EXPECT_TRUE(WriteFileBytes(upd + "MIRO42.DLL", std::string(200000, 'L')));
    EXPECT_TRUE(SetWriteTime(upd + "MIRO42.DLL", MakeFileTime(2024, 3, 1, 9, 30, 15)));
    EXPECT_TRUE(WriteFileBytes(upd + "RT_IDX.DAT", DataFileBytes("1.30", 4096)));
    EXPECT_TRUE(SetWriteTime(upd + "RT_IDX.DAT", MakeFileTime(2024, 2, 29, 23, 59, 58)));
    return upd;
}

void ExpectTypicalUpdate(const std::string &app, const std::string &upd, const std::string &ids)
{
    for (const char *name : {"MIRO42.DLL", "RT_IDX.DAT"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(ReadFileBytes(app + name) == ReadFileBytes(upd + name));
        FILETIME creation, write, srcCreation, srcWrite;
        ASSERT_TRUE(ReadTimes(app + name, &creation, &write));
        ASSERT_TRUE(ReadTimes(upd + name, &srcCreation, &srcWrite));
        EXPECT_TRUE(SameTime(write, srcWrite));
        EXPECT_TRUE(SameTime(creation, srcWrite));
    }
    EXPECT_EQ(InstalledIds(app), ids);
}

std::string ProgramFilesDir()
{
    char path[MAX_PATH] = "";
    DWORD size = sizeof(path);
    RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                 RRF_RT_REG_SZ, nullptr, path, &size);
    return path;
}

std::string ShortPath(const std::string &path)
{
    char buf[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), buf, MAX_PATH);
    return buf;
}

namespace {

const int kSourceLabel = 1000, kDestinationLabel = 1001, kBar = 1002;

// The text of another process's window as the system keeps it: no message
// is sent, so it can be read while the updater sleeps between commands.
std::string KeptText(HWND wnd)
{
    char buf[1024] = "";
    GetWindowTextA(wnd, buf, sizeof(buf));
    return buf;
}

bool HasProgressBar(HWND dlg)
{
    char cls[32] = "";
    HWND bar = GetDlgItem(dlg, kBar);
    return bar && GetClassNameA(bar, cls, sizeof(cls)) && _stricmp(cls, PROGRESS_CLASSA) == 0;
}

int AskBar(HWND bar, UINT msg, WPARAM wParam)
{
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(bar, msg, wParam, 0, SMTO_ABORTIFHUNG, 1000, &answer))
        return -1;
    return (int)answer;
}

// Watches the progress dialog from the robot's thread (labels) and from a
// thread of its own (the bar, whose readings wait for the updater to pump).
class ProgressWatcher {
public:
    ~ProgressWatcher()
    {
        if (reader_.joinable())
            reader_.join();
    }
    // The robot's handler for dialogs other than message boxes.
    bool Visit(HWND dlg, std::vector<std::string> *events)
    {
        if (!HasProgressBar(dlg))
            return true;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!view_.seen) {
            view_.seen = true;
            view_.caption = KeptText(dlg);
            events->push_back("progress");
            reader_ = std::thread([this, dlg] { ReadBar(dlg); });
        }
        // The two labels are set one after the other: a pair counts once it
        // reads the same a moment later.
        std::pair<std::string, std::string> paths = Labels(dlg);
        Sleep(20);
        if (paths == Labels(dlg))
            Note(paths);
        return false;  // keep watching it at every poll
    }
    // While a box is up the updater waits in it: the labels stand still.
    void AtBox(HWND dlg)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (dlg)
            Note(Labels(dlg));
    }
    ProgressView View()
    {
        if (reader_.joinable())
            reader_.join();
        std::lock_guard<std::mutex> lock(mutex_);
        DropHalfSetPairs(&view_.paths);
        return view_;
    }

private:
    void ReadBar(HWND dlg)
    {
        HWND bar = GetDlgItem(dlg, kBar);
        while (IsWindow(bar)) {
            ProgressReading r;
            r.position = AskBar(bar, PBM_GETPOS, 0);
            r.low = AskBar(bar, PBM_GETRANGE, TRUE);
            r.high = AskBar(bar, PBM_GETRANGE, FALSE);
            if (r.position >= 0 && r.low >= 0 && r.high >= 0 && IsWindow(bar)) {
                std::lock_guard<std::mutex> lock(mutex_);
                view_.bars.push_back(r);
            }
            Sleep(20);
        }
    }

    // An updater held up between its two labels for longer than the second
    // look waits shows the new source beside the old destination: such a
    // pair sits between the pair whose destination it still shows and the
    // one that completes its source.
    static void DropHalfSetPairs(std::vector<std::pair<std::string, std::string>> *paths)
    {
        for (size_t i = 0; i + 1 < paths->size();) {
            const std::string before = i == 0 ? "" : (*paths)[i - 1].second;  // a fresh dialog's is blank
            if ((*paths)[i].second == before && (*paths)[i].first == (*paths)[i + 1].first)
                paths->erase(paths->begin() + (long)i);
            else
                i++;
        }
    }
    void Note(const std::pair<std::string, std::string> &paths)
    {
        bool blank = paths.first.empty() && paths.second.empty();
        if (!blank && (view_.paths.empty() || view_.paths.back() != paths))
            view_.paths.push_back(paths);
    }
    static std::pair<std::string, std::string> Labels(HWND dlg)
    {
        return {KeptText(GetDlgItem(dlg, kSourceLabel)), KeptText(GetDlgItem(dlg, kDestinationLabel))};
    }

    std::mutex mutex_;
    ProgressView view_;
    std::thread reader_;
};

} // namespace

UpdaterRun RunUpdater(const std::string &folder, const std::string &args, std::vector<RobotAnswer> answers,
                      const std::string &exe)
{
    UpdaterRun run;
    ProgressWatcher watcher;
    std::vector<std::string> events;  // only touched on the robot's thread
    std::vector<ProgressReading> atBox;
    RunOptions options;
    options.answers = std::move(answers);
    options.otherDialogs = [&](HWND dlg) { return watcher.Visit(dlg, &events); };
    options.beforeAnswer = [&](HWND box, int) {
        DWORD pid = 0;
        GetWindowThreadProcessId(box, &pid);
        HWND dialog = FindProgressDialog(pid);
        events.push_back("box");
        atBox.push_back(dialog ? ReadProgress(dialog) : ProgressReading());
        watcher.AtBox(dialog);
    };
    DWORD start = GetTickCount();
    RunResult r = RunProgram(folder + exe, args, options);
    run.elapsedMs = GetTickCount() - start;
    run.exitCode = r.exitCode;
    run.timedOut = r.timedOut;
    run.boxes = r.boxes;
    run.events = events;
    run.progressAtBox = atBox;
    run.progress = watcher.View();
    return run;
}

void ExpectClosingBox(const DialogRecord &box, const std::string &text, int code)
{
    EXPECT_EQ(box.caption, CAPTION_FINISHED);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, code == 0 ? ICON_INFORMATION : ICON_WARNING);
    ASSERT_EQ(box.buttons.size(), 1u);
    EXPECT_EQ(box.buttons[0].id, IDOK);
}

void ExpectQuestion(const DialogRecord &box, const std::string &text)
{
    EXPECT_EQ(box.caption, CAPTION_CONFIRM);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, ICON_QUESTION);
    ASSERT_EQ(box.buttons.size(), 2u);
    EXPECT_EQ(box.buttons[0].id, IDYES);
    EXPECT_EQ(box.buttons[1].id, IDNO);
}

void ExpectProgress(const ProgressReading &r, const std::string &src, const std::string &dst, int done, int steps)
{
    EXPECT_EQ(r.caption, "処理中です...");
    EXPECT_EQ(r.source, src);
    EXPECT_EQ(r.destination, dst);
    EXPECT_EQ(r.position, done);
    EXPECT_EQ(r.low, 0);
    EXPECT_EQ(r.high, steps);
}

void ExpectDeclined(const UpdaterRun &r, const std::string &question)
{
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ((int)r.exitCode, -1);
    ASSERT_EQ(r.boxes.size(), 1u);
    ExpectQuestion(r.boxes[0], question);
    EXPECT_FALSE(r.progress.seen);
}

void ExpectSucceeded(const UpdaterRun &r, const std::string &question, const std::string &text)
{
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 2u);
    ExpectQuestion(r.boxes[0], question);
    ExpectClosingBox(r.boxes[1], text, 0);
}

namespace {

// Matches text against a pattern in which "{*}" stands for any text.
bool Matches(const std::string &pattern, const std::string &text)
{
    size_t star = pattern.find("{*}");
    if (star == std::string::npos)
        return pattern == text;
    if (text.compare(0, star, pattern, 0, star) != 0)
        return false;
    std::string rest = pattern.substr(star + 3);
    for (size_t at = star; at <= text.size(); at++)
        if (Matches(rest, text.substr(at)))
            return true;
    return false;
}

std::string Shown(const std::string &line)
{
    std::string out;
    for (char c : line)
        out += c == '\t' ? std::string("\\t") : std::string(1, c);
    return "\"" + out + "\"";
}

} // namespace

bool TraceLineMatches(const std::string &pattern, const std::string &line)
{
    return Matches(pattern, line);
}

void ExpectTrace(const std::vector<std::string> &expected)
{
    ExpectLines(TraceLines(), expected);
}

void ExpectLines(const std::vector<std::string> &lines, const std::vector<std::string> &expected)
{
    size_t n = std::min(lines.size(), expected.size());
    for (size_t i = 0; i < n; i++) {
        if (!Matches(expected[i], lines[i])) {
            ADD_FAILURE() << "line " << i + 1 << " is " << Shown(lines[i]) << ", expected "
                          << Shown(expected[i]);
            return;
        }
    }
    if (lines.size() != expected.size())
        ADD_FAILURE() << "got " << lines.size() << " lines, expected " << expected.size()
                      << (lines.size() > n ? "; the first extra is " + Shown(lines[n]) : "");
}

void Append(std::vector<std::string> *lines, const std::vector<std::string> &more)
{
    lines->insert(lines->end(), more.begin(), more.end());
}

namespace {

std::vector<std::string> TimeHelperTrace(const std::string &name, const std::string &call)
{
    return {"\t[" + name + "]>>", "\t\tCreateFile().", "\t\t\tSucceeded. [{*}]", "\t", "\t\t" + call + "().",
            "\t\t\t\tSucceeded.",  "\tbResult = 1",     "\t[" + name + "]<<"};
}

} // namespace

std::vector<std::string> CopyTrace(const std::string &src, const std::string &dst, const std::string &lastWrite,
                                   bool replacing)
{
    std::vector<std::string> lines = {"\t\t[Copy]>>", "\t\t\tsrc = " + src, "\t\t\tdst = " + dst};
    Append(&lines, TimeHelperTrace("GetFileTimeByFilename", "GetFileTime"));
    Append(&lines, {"", "\t\t\t\tFileTimeToLocalFileTime().", "\t\t\t\t\tSucceed.", "",
                    "\t\t\t\t\tFileTimeToSytemTime().", "\t\t\t\t\t\tSucceed.",
                    "\t\t\t\t\t\tLastWriteTime: " + lastWrite});
    if (replacing) {
        Append(&lines, {"\t\t\t\tDelete   dst", "\t\t\t\tCopy\tsrc -> dst"});
    } else {
        // The system's text ends in CR LF, which the text-mode log writes as
        // CR CR LF; the line goes on after a blank.
        std::string text = SystemText(ERROR_FILE_NOT_FOUND);
        Append(&lines, {"\t\t\t\tDelete Fail - " + text.substr(0, text.size() - 1), " \t\t\t\tCopy\tsrc -> dst"});
    }
    Append(&lines, TimeHelperTrace("SetFileTimeByFilename", "SetFileTime"));
    Append(&lines, {"\t\tbResult = 1", "\t\t[Copy]<<"});
    return lines;
}

void KeepTraceIfFailed()
{
    if (!::testing::Test::HasFailure())
        return;
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string kept = ArtifactDir() + "acceptance_" + test->test_suite_name() + "_" + test->name() + ".log";
    if (CopyFileA(TraceLogPath().c_str(), kept.c_str(), FALSE))
        printf("the run's trace log is kept as %s\n", kept.c_str());
}

bool TraceHas(const std::string &line)
{
    for (const std::string &l : TraceLines())
        if (l == line)
            return true;
    return false;
}

bool TraceMentions(const std::string &text)
{
    for (const std::string &l : TraceLines())
        if (l.find(text) != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> TraceBetween(const std::string &from, const std::string &to)
{
    std::vector<std::string> lines = TraceLines(), part;
    bool in = false;
    for (const std::string &l : lines) {
        in = in || l == from;
        if (!in)
            continue;
        part.push_back(l);
        if (l == to && part.size() > 1)
            return part;
    }
    return {};
}

namespace {

void SnapshotFolder(const std::string &folder, std::string *out)
{
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..")
            continue;
        char line[160];
        snprintf(line, sizeof(line), " attr=%lx created=%lx:%lx written=%lx:%lx size=%lu\n", fd.dwFileAttributes,
                 fd.ftCreationTime.dwHighDateTime, fd.ftCreationTime.dwLowDateTime, fd.ftLastWriteTime.dwHighDateTime,
                 fd.ftLastWriteTime.dwLowDateTime, fd.nFileSizeLow);
        *out += folder + name + line;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            SnapshotFolder(folder + name + "\\", out);
        else
            *out += ReadFileBytes(folder + name) + "\n";
    } while (FindNextFileA(find, &fd));
    FindClose(find);
}

void SnapshotKey(HKEY parent, const std::string &name, std::string *out)
{
    HKEY key;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    *out += "[" + name + "]\n";
    for (DWORD i = 0;; i++) {
        char value[256];
        BYTE data[1024];
        DWORD valueSize = sizeof(value), dataSize = sizeof(data), type = 0;
        if (RegEnumValueA(key, i, value, &valueSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        *out += std::string(value) + " " + std::to_string(type) + " " + std::string((char *)data, dataSize) + "\n";
    }
    for (DWORD i = 0;; i++) {
        char sub[256];
        DWORD subSize = sizeof(sub);
        if (RegEnumKeyExA(key, i, sub, &subSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        SnapshotKey(key, sub, out);
    }
    RegCloseKey(key);
}

} // namespace

std::string MachineSnapshot(const std::vector<std::string> &folders)
{
    std::string out;
    for (const std::string &folder : folders)
        SnapshotFolder(folder, &out);
    SnapshotKey(HKEY_LOCAL_MACHINE, "Software\\Kevrani", &out);
    return out;
}

std::vector<std::string> ReportLines(const std::string &path)
{
    std::string bytes = ReadFileBytes(path);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0)
        return {};
    bytes = bytes.substr(3);
    std::wstring wide(bytes.size() + 1, L'\0');
    int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), (int)bytes.size(), &wide[0],
                                    (int)wide.size());
    std::string text(chars * 2 + 1, '\0');
    int got = WideCharToMultiByte(CP_ACP, 0, wide.data(), chars, &text[0], (int)text.size(), nullptr, nullptr);
    text.resize(got);
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            return {};
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::string ReportTime(const std::string &path)
{
    FILETIME creation, write, local;
    SYSTEMTIME st;
    if (!ReadTimes(path, &creation, &write) || !FileTimeToLocalFileTime(&write, &local) ||
        !FileTimeToSystemTime(&local, &st))
        return "?";
    char text[32];
    snprintf(text, sizeof(text), "%u/%02u/%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
             st.wSecond);
    return text;
}

std::vector<std::string> ResultOutcomes(const std::string &path)
{
    std::string json = ReadFileBytes(path);
    std::vector<std::string> outcomes;
    const std::string key = "\"outcome\": \"";
    for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
        size_t from = at + key.size();
        outcomes.push_back(json.substr(from, json.find('"', from) - from));
    }
    return outcomes;
}
