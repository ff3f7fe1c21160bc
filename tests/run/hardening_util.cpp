#include "hardening_util.h"

#include <algorithm>

namespace {

const char kMarkers[] = "C:\\lumitest\\markers\\";

// FNV-1a over the bytes: enough to tell a changed file.
std::string Digest(const std::string &bytes)
{
    unsigned long long hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::string text;
    for (int shift = 60; shift >= 0; shift -= 4)
        text += "0123456789abcdef"[(hash >> shift) & 15];
    return text + "/" + std::to_string(bytes.size());
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

// A started program inherits the current folder and the environment: both
// are set for the start and put back afterwards.
RunResult RunProgramFrom(const std::string &exe, const std::string &args, const RunOptions &options,
                         const StartPlace &place)
{
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, folder);
    std::string path(32767, '\0');
    path.resize(GetEnvironmentVariableA("PATH", &path[0], (DWORD)path.size()));
    if (!place.currentFolder.empty())
        SetCurrentDirectoryA(place.currentFolder.c_str());
    if (!place.pathFront.empty())
        SetEnvironmentVariableA("PATH", (place.pathFront + ";" + path).c_str());
    RunResult result = RunProgram(exe, args, options);
    SetCurrentDirectoryA(folder);
    SetEnvironmentVariableA("PATH", path.c_str());
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
