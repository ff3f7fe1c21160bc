// The script checker and the updater run as real processes on real scripts.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

struct CheckRun {
    DWORD exitCode = 0;
    bool timedOut = false;
    std::string output;               // stdout as written (CP932, CR LF)
    std::vector<std::string> lines;   // stdout split at its line ends
    std::string errors;               // stderr
    // 1 when a line of the output equals line exactly.
    bool Has(const std::string &line) const;
    // The lines that start with prefix.
    std::vector<std::string> Starting(const std::string &prefix) const;
    // The findings ("PATH:LINE: error: what", "PATH: warning: what"), in
    // order, each with the folder in front of PATH taken away and a line's
    // finding joined to the line's text after it by "\n".
    std::vector<std::string> Findings(const std::string &folder) const;
    std::string folder;               // the script's folder (CheckScriptBytes)
};

// Runs LumiupdCheck.exe from the build's bin folder with args, its stdout and
// stderr redirected into files; killed after timeoutMs.
CheckRun RunChecker(const std::string &args, DWORD timeoutMs = 30000);

// A fresh folder C:\lumitest\NAME\ holding Lumiupd.INF (the script's bytes) and
// the given files (relative name, content); returns the folder.
using FolderFiles = std::vector<std::pair<std::string, std::string>>;
std::string WriteScriptFolder(const std::string &name, const std::string &script, const FolderFiles &files = {});

// The checker on a script written into C:\lumitest\NAME\Lumiupd.INF, without
// an update folder.
CheckRun CheckScriptBytes(const std::string &name, const std::string &script);

// The updater's own verdict on a script: the script beside a copy of the
// updater, run with "-auto" and a destination that cannot pass the version
// check. 2 = the script was refused, 6 = it was read; -1 = the run went wrong.
int UpdaterVerdict(const std::string &script);

// The repository's folders (tests\, docs\) as the running test sees them.
std::string SourceRoot();
// Every file under folder (recursively) whose name ends with extension
// (letter case ignored).
std::vector<std::string> FindFiles(const std::string &folder, const std::string &extension);
// text cut at its line feeds, each line without its CR.
std::vector<std::string> SplitLines(const std::string &text);
// UTF-8 text (the guide) in the system code page.
std::string Utf8ToAnsi(const std::string &text);
