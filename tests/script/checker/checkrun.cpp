#include "checkrun.h"

#include "testutil.h"

#include <algorithm>
#include <ctype.h>

namespace {

struct HandleCloser {
    HANDLE handle;
    ~HandleCloser()
    {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

HANDLE InheritableFile(const std::string &path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool CheckRun::Has(const std::string &line) const
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<std::string> CheckRun::Starting(const std::string &prefix) const
{
    std::vector<std::string> out;
    for (const std::string &line : lines) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line);
    }
    return out;
}

std::vector<std::string> CheckRun::Findings(const std::string &prefix) const
{
    std::vector<std::string> out;
    for (size_t i = 0; i < lines.size(); i++) {
        const std::string &line = lines[i];
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string finding = line.substr(prefix.size());
        if (finding.find(": error: ") == std::string::npos && finding.find(": warning: ") == std::string::npos &&
            finding.find(": note: ") == std::string::npos)
            continue;
        // "NAME:LINE: ..." names a line; its text follows, indented.
        size_t colon = finding.find(':');
        if (colon + 1 < finding.size() && isdigit((unsigned char)finding[colon + 1]) && i + 1 < lines.size())
            finding += "\n" + lines[++i];
        out.push_back(finding);
    }
    return out;
}

CheckRun RunChecker(const std::string &args, DWORD timeoutMs)
{
    CheckRun run;
    std::string dir = MakeTestDir("checker_output");
    std::string outPath = dir + "stdout.txt", errPath = dir + "stderr.txt";
    {
        HandleCloser out = {InheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS)};
        HandleCloser err = {InheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS)};
        HandleCloser in = {InheritableFile("NUL", GENERIC_READ, OPEN_EXISTING)};
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out.handle;
        si.hStdError = err.handle;
        si.hStdInput = in.handle;
        std::string cmd = "\"" + BinDir() + "LumiupdCheck.exe\" " + args;
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back('\0');
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                            &pi)) {
            run.exitCode = (DWORD)-1000;
            return run;
        }
        HandleCloser process = {pi.hProcess}, thread = {pi.hThread};
        if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            run.timedOut = true;
            TerminateProcess(pi.hProcess, 9999);
            WaitForSingleObject(pi.hProcess, 5000);
        }
        GetExitCodeProcess(pi.hProcess, &run.exitCode);
    }
    run.output = ReadFileBytes(outPath);
    run.errors = ReadFileBytes(errPath);
    run.lines = SplitLines(run.output);
    return run;
}

std::string WriteScriptFolder(const std::string &name, const std::string &script, const FolderFiles &files)
{
    std::string dir = MakeTestDir(name);
    WriteFileBytes(dir + "Lumiupd.INF", script);
    for (const auto &file : files) {
        // Every folder on the way; a trail byte 0x5C (ソ) is no separator.
        const std::string &name = file.first;
        for (size_t i = 0; i < name.size(); i++) {
            if (IsDBCSLeadByte((BYTE)name[i]))
                i++;
            else if (name[i] == '\\')
                CreateDirectoryA((dir + name.substr(0, i)).c_str(), nullptr);
        }
        WriteFileBytes(dir + name, file.second);
    }
    return dir;
}

CheckRun CheckScriptBytes(const std::string &name, const std::string &script)
{
    std::string dir = WriteScriptFolder(name, script);
    CheckRun run = RunChecker("\"" + dir + "Lumiupd.INF\"");
    run.folder = dir;
    return run;
}

int UpdaterVerdict(const std::string &script)
{
    // Written here, so that an empty script is a file as well.
    std::string dir = MakeUpdateFolder("checker_updater", "");
    if (!WriteFileBytes(dir + "Lumiupd.INF", script))
        return -1;
    RunResult run = RunProgram(dir + "Lumiupd.exe", "-auto \"C:\\lumitest\\checker_nowhere\"", {});
    if (run.timedOut || run.boxes.size() != 1)
        return -1;
    return (int)run.exitCode;
}

std::string SourceRoot()
{
    std::string root = LUMIUPD_SOURCE_ROOT;
    // A cross build names the sources by their Linux path: Wine's Z: drive.
    if (!root.empty() && root[0] == '/')
        root = "Z:" + root;
    std::replace(root.begin(), root.end(), '/', '\\');
    return root + "\\";
}

std::vector<std::string> FindFiles(const std::string &folder, const std::string &extension)
{
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (const std::string &inner : FindFiles(folder + name + "\\", extension))
                found.push_back(inner);
        } else if (name.size() >= extension.size() &&
                   lstrcmpiA(name.substr(name.size() - extension.size()).c_str(), extension.c_str()) == 0) {
            found.push_back(folder + name);
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(found.begin(), found.end());
    return found;
}

std::string Utf8ToAnsi(const std::string &text)
{
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring wide(wideLength, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &wide[0], wideLength);
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string out(length, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, &out[0], length, nullptr, nullptr);
    return out;
}
