#include "hardening_util.h"

#include <algorithm>

namespace {

const char kMarkers[] = "C:\\lumitest\\markers\\";

// The caller's environment with PATH (whatever its letter case) led by front.
std::vector<char> EnvironmentWithPath(const std::string &front)
{
    std::vector<char> block;
    char *env = GetEnvironmentStringsA();
    bool pathSeen = false;
    for (const char *p = env; *p; p += strlen(p) + 1) {
        std::string entry = p;
        if (_strnicmp(p, "PATH=", 5) == 0) {
            entry = "PATH=" + front + ";" + entry.substr(5);
            pathSeen = true;
        }
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back('\0');
    }
    FreeEnvironmentStringsA(env);
    if (!pathSeen) {
        std::string entry = "PATH=" + front;
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back('\0');
    }
    block.push_back('\0');
    return block;
}

// FNV-1a over the bytes: enough to tell a changed file.
std::string Digest(const std::string &bytes)
{
    unsigned long long hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[32];
    snprintf(text, sizeof(text), "%016llx/%zu", hash, bytes.size());
    return text;
}

void ReadTreeInto(const std::string &root, const std::string &relative, TreeState *state)
{
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((root + relative + "*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = relative + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*state)[path + "\\"] = "folder";
            ReadTreeInto(root, path + "\\", state);
        } else {
            bool readOnly = (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
            (*state)[path] = Digest(ReadFileBytes(root + path)) + (readOnly ? " read-only" : "");
        }
    } while (FindNextFileA(find, &fd));
    FindClose(find);
}

} // namespace

RunResult RunProgramFrom(const std::string &exe, const std::string &args, const RunOptions &options,
                         const StartPlace &place)
{
    RunResult result;
    std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    std::vector<char> env;
    if (!place.pathFront.empty())
        env = EnvironmentWithPath(place.pathFront);
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, env.empty() ? nullptr : env.data(),
                        place.currentFolder.empty() ? nullptr : place.currentFolder.c_str(), &si, &pi)) {
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

TreeState ReadTree(const std::string &folder)
{
    TreeState state;
    ReadTreeInto(folder, "", &state);
    return state;
}

std::vector<std::string> TreeChanges(const TreeState &before, const TreeState &after)
{
    std::vector<std::string> changes;
    for (const auto &entry : before) {
        auto found = after.find(entry.first);
        if (found == after.end() || found->second != entry.second)
            changes.push_back(entry.first);
    }
    for (const auto &entry : after) {
        if (!before.count(entry.first))
            changes.push_back(entry.first);
    }
    std::sort(changes.begin(), changes.end());
    return changes;
}

void ClearMarkers()
{
    RemoveTree(kMarkers);
}

std::map<std::string, std::string> Markers()
{
    std::map<std::string, std::string> markers;
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((std::string(kMarkers) + "*.txt").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE)
        return markers;
    do {
        std::string name = fd.cFileName;
        std::string text = ReadFileBytes(kMarkers + name);
        markers[name.substr(0, name.size() - 4)] = text.substr(0, text.find("\r\n"));
    } while (FindNextFileA(find, &fd));
    FindClose(find);
    return markers;
}

bool PlantDlls(const std::string &folder, const std::vector<std::string> &names)
{
    std::string planted = BinDir() + "planted.dll";
    for (const std::string &name : names) {
        if (!CopyFileA(planted.c_str(), (folder + name).c_str(), FALSE))
            return false;
    }
    return true;
}

std::string BoxTexts(const RunResult &r)
{
    std::string texts;
    for (const DialogRecord &box : r.boxes)
        texts += "[" + box.caption + "] " + box.text + "\n";
    return texts;
}

bool ShowedDialog(const RunResult &r, const std::string &caption)
{
    for (const DialogRecord &d : r.dialogs) {
        if (!d.isMessageBox && d.caption == caption)
            return true;
    }
    return false;
}
