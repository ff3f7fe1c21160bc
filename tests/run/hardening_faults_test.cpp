// Real runs of the updater that meet a fault on the way: each ends with its
// code and closing box, and the installed copy keeps every file except what
// the script changed before the fault.
#include "base/messages.h"
#include "base/tracelog.h"
#include "hardening_util.h"
#include "installed.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <atomic>
#include <thread>

namespace {

const char kKakunin[] = "更新します。";

// An update folder with the updater, the test plug-in and the given files.
std::string MakeUpdate(const std::string &name, const std::vector<std::string> &commands,
                       const std::vector<std::pair<std::string, std::string>> &files)
{
    std::vector<std::string> script = {"id=FAULT", std::string("kakunin=") + kKakunin, "target=1.1"};
    script.insert(script.end(), commands.begin(), commands.end());
    std::string upd = MakeUpdateFolder(name, CrLf(script));
    EXPECT_TRUE(CopyFileA((BinDir() + "lumiplugin.dll").c_str(), (upd + "lumiplugin.dll").c_str(), FALSE));
    for (const auto &file : files)
        EXPECT_TRUE(WriteFileBytes(upd + file.first, file.second));
    return upd;
}

RunResult RunUpdate(const std::string &upd, const std::string &app, std::vector<RobotAnswer> answers,
                    const std::string &more = "")
{
    RunOptions options;
    options.answers = std::move(answers);
    return RunProgram(upd + "Lumiupd.exe", "\"" + app + "\"" + more, options);
}

// The question first, the closing box for code last, the prompts between.
void ExpectBoxes(const RunResult &r, DWORD code, const std::vector<std::string> &prompts)
{
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, code) << BoxTexts(r);
    ASSERT_EQ(r.boxes.size(), prompts.size() + 2) << BoxTexts(r);
    EXPECT_EQ(r.boxes.front().text, kKakunin);
    for (size_t i = 0; i < prompts.size(); i++) {
        const DialogRecord &box = r.boxes[i + 1];
        EXPECT_EQ(box.text, prompts[i]) << i;
        EXPECT_EQ(box.icon, ICON_WARNING) << i;
        EXPECT_EQ(box.buttons.size(), 3u) << i;
    }
    EXPECT_EQ(r.boxes.back().caption, CAPTION_FINISHED);
    EXPECT_EQ(r.boxes.back().text, MessageTable[code]);
}

using Changes = std::vector<std::string>;

// The result file of AbortAtEachPromptInTurn when its question k is answered
// Abort and those before it Ignore (k = 3: all of them ignored). The command
// that failed is its cause; it and those ignored name their file.
std::string AbortResult(const std::string &app, const std::vector<std::string> &commands,
                        const std::vector<std::string> &prompts, size_t k)
{
    const size_t asked[] = {1, 3, 5};
    const DWORD errors[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND};
    int code = k == prompts.size() ? 0 : 4;
    size_t failedAt = k < prompts.size() ? asked[k] : commands.size();
    auto fileOf = [&](size_t i) { return JsonQuoted(app + commands[i].substr(commands[i].find('=') + 1)); };
    std::string cause = code ? "{\"folder\": " + JsonQuoted(app) + ", \"command\": " + std::to_string(failedAt + 1) +
                                   ", \"path\": " + fileOf(failedAt) + "}"
                             : "null";
    std::string json = "{\n  \"exitCode\": " + std::to_string(code) + ",\n  \"meaning\": \"" +
                       (code ? "update-failed" : "success") +
                       "\",\n  \"updater\": \"1.0.0\",\n  \"id\": \"FAULT\",\n  \"unattended\": false,\n"
                       "  \"dryRun\": false,\n  \"cause\": " + cause + ",\n"
                       "  \"destinations\": [\n    {\n      \"folder\": " + JsonQuoted(app) +
                       ",\n      \"dataVersion\": \"1.10\",\n      \"accepted\": true,\n"
                       "      \"alreadyUpdated\": false,\n      \"commands\": [";
    for (size_t i = 0, prompt = 0; i < commands.size(); i++) {
        size_t eq = commands[i].find('=');
        json += "\n        {\"command\": \"" + commands[i].substr(0, eq) + "\", \"file\": " +
                JsonQuoted(commands[i].substr(eq + 1)) + ", \"outcome\": ";
        if (i > failedAt) {
            json += "\"skipped\"}";
        } else if (prompt < 3 && i == asked[prompt]) {
            json += std::string(i == failedAt ? "\"failed\"" : "\"ignored\"") +
                    ", \"error\": " + std::to_string(errors[prompt]) + ", \"errorText\": " +
                    JsonQuoted(prompts[prompt].substr(0, prompts[prompt].find_last_not_of("\r\n ") + 1)) +
                    ", \"path\": " + fileOf(i) + "}";
            prompt++;
        } else {
            json += "\"done\"}";
        }
        json += i + 1 < commands.size() ? "," : "\n      ]";
    }
    json += "\n    }\n  ],\n  \"boxes\": [\n    {\"caption\": " + JsonQuoted("確認") + ", \"text\": " +
            JsonQuoted(kKakunin) + ", \"answer\": \"yes\"},";
    for (size_t i = 0; i < prompts.size() && i <= k; i++)
        json += "\n    {\"caption\": null, \"text\": " + JsonQuoted(prompts[i]) + ", \"answer\": \"" +
                (i < k ? "ignore" : "abort") + "\"},";
    json += "\n    {\"caption\": " + JsonQuoted(CAPTION_FINISHED) + ", \"text\": " + JsonQuoted(MessageTable[code]) +
            ", \"answer\": \"ok\"}\n  ],\n  \"milliseconds\": N\n}\n";
    return json;
}

// Three commands that work and three that are asked about, interleaved.
// Abort at the k-th question keeps everything after it from happening. The
// result file tells each command's outcome, the errors and the answers.
TEST(FaultRuns, AbortAtEachPromptInTurn)
{
    const std::vector<std::string> commands = {"copy=MIRO42.DLL", "remove=absent1.txt", "copy=data.dat",
                                               "copy=nodir\\x.dat", "create=newdir", "remove=absent2.txt",
                                               "log=2024/fault"};
    const std::vector<std::string> prompts = {SystemText(ERROR_FILE_NOT_FOUND), SystemText(ERROR_PATH_NOT_FOUND),
                                              SystemText(ERROR_FILE_NOT_FOUND)};
    const std::vector<Changes> doneBefore = {
        {"MIRO42.DLL"}, {"MIRO42.DLL", "data.dat"}, {"MIRO42.DLL", "data.dat", "newdir\\"}};
    std::string upd = MakeUpdate("fault_abort_upd", commands, {{"MIRO42.DLL", "new library"}, {"data.dat", "new data"}});
    ASSERT_TRUE(CreateDirectoryA((upd + "nodir").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(upd + "nodir\\x.dat", "x"));
    for (size_t k = 0; k <= prompts.size(); k++) {
        SCOPED_TRACE("abort at question " + std::to_string(k));
        std::string app = MakeInstalledFolder("fault_abort_app", "1.10");
        ASSERT_TRUE(WriteFileBytes(app + "data.dat", "old data"));
        TreeState before = ReadTree(app);
        std::vector<RobotAnswer> answers = {{IDYES}};
        // No answer to spare: the closing box takes the next one given.
        for (size_t i = 0; i < prompts.size() && i <= k; i++)
            answers.push_back({i < k ? IDIGNORE : IDABORT});
        answers.push_back({IDOK});
        std::string result = MakeTestDir("fault_abort_result") + "result.json";
        RunResult r = RunUpdate(upd, app, answers, " /Result=" + result);
        unsigned long ms = 0;
        EXPECT_EQ(ResultTimeAsN(ReadFileBytes(result), &ms), AbortResult(app, commands, prompts, k));
        EXPECT_GE(ms, 200ul);
        if (k == prompts.size()) {
            // Every question ignored: the whole script ran, the id is registered.
            ExpectBoxes(r, 0, prompts);
            EXPECT_EQ(TreeChanges(before, ReadTree(app)),
                      (Changes{"MIRO42.DLL", "MIRO42.INI", "data.dat", "newdir\\", "update.log"}));
            continue;
        }
        ExpectBoxes(r, 4, std::vector<std::string>(prompts.begin(), prompts.begin() + k + 1));
        EXPECT_EQ(TreeChanges(before, ReadTree(app)), doneBefore[k]);
        EXPECT_EQ(ReadFileBytes(app + "MIRO42.DLL"), "new library");
    }
}

// A plug-in deletes the source of the next copy after the checks: that copy
// fails without touching the installed file it would have replaced.
TEST(FaultRuns, SourceRemovedDuringTheRun)
{
    std::string app = MakeInstalledFolder("fault_source_app", "1.10");
    ASSERT_TRUE(WriteFileBytes(app + "next.dat", "old next"));
    ASSERT_TRUE(WriteFileBytes(app + "other.dat", "old other"));
    std::string upd = MakeUpdate("fault_source_upd",
                                 {"copy=MIRO42.DLL", "dll=next.dat,lumiplugin.dll,DeleteSource", "copy=next.dat",
                                  "copy=other.dat"},
                                 {{"MIRO42.DLL", "new library"}, {"next.dat", "new next"}, {"other.dat", "new other"}});
    TreeState before = ReadTree(app);
    RunResult r = RunUpdate(upd, app, {{IDYES}, {IDOK}});
    ExpectBoxes(r, 4, {});
    EXPECT_FALSE(FileExists(upd + "next.dat")) << "the source was not removed";
    EXPECT_EQ(TreeChanges(before, ReadTree(app)), Changes{"MIRO42.DLL"});
    EXPECT_EQ(ReadFileBytes(app + "next.dat"), "old next");
}

// The trace as it stands (the updater writes it line by line; read with
// sharing so that its next line is not refused).
std::string TraceNow()
{
    std::string text;
    HANDLE file = CreateFileA(TraceLogPath().c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(file, buf, sizeof(buf), &got, nullptr) && got > 0)
        text.append(buf, got);
    CloseHandle(file);
    return text;
}

int CountOf(const std::string &text, const std::string &line)
{
    int n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        n++;
    return n;
}

// Runs the update unattended and kills it the moment the trace holds line
// for the n-th time. The updater opens its log without sharing for each
// line, and drops the line when a reader has it open: the log is read only
// while the updater's thread stands still. False when the run ended before.
bool KillAfterTraceLine(const std::string &upd, const std::string &app, const std::string &line, int n,
                        const std::string &more)
{
    DeleteFileA(TraceLogPath().c_str());
    std::string cmd = "\"" + upd + "Lumiupd.exe\" -auto -silent \"" + app + "\"" + more;
    std::vector<char> buf(cmd.begin(), cmd.end());
    buf.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    bool seen = false;
    DWORD start = GetTickCount();
    while (!seen && WaitForSingleObject(pi.hProcess, 1) == WAIT_TIMEOUT && GetTickCount() - start < 60000) {
        SuspendThread(pi.hThread);
        CONTEXT context;
        context.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(pi.hThread, &context);  // returns once the thread has stopped
        seen = CountOf(TraceNow(), line) >= n;
        if (!seen)
            ResumeThread(pi.hThread);
    }
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return seen;
}

// Every name under folder, at any depth, that a replacement left behind.
std::vector<std::string> TemporaryNames(const TreeState &tree)
{
    std::vector<std::string> names;
    for (const auto &entry : tree)
        if (entry.first.find("~lu") != std::string::npos)
            names.push_back(entry.first);
    return names;
}

const char kSettings[] = "[MAIN]\r\nNAME=Lumitel\r\nINSTALLED=OLD1\r\nDATADIR=C:\\LumiData\r\n\r\n"
                         "[VIEW]\r\nWIDTH=800\r\nHEIGHT=600\r\n";

// Every key of kSettings but INSTALLED keeps its value; INSTALLED holds the
// old id, and the update's at most.
void ExpectSettingsKept(const std::string &ini, const std::string &id)
{
    const struct {
        const char *section, *key, *value;
    } keys[] = {{"MAIN", "NAME", "Lumitel"}, {"MAIN", "DATADIR", "C:\\LumiData"},
                {"VIEW", "WIDTH", "800"},    {"VIEW", "HEIGHT", "600"}};
    char value[256];
    for (const auto &k : keys) {
        GetPrivateProfileStringA(k.section, k.key, "(lost)", value, sizeof(value), ini.c_str());
        EXPECT_STREQ(value, k.value) << k.section << "." << k.key;
    }
    GetPrivateProfileStringA("MAIN", "INSTALLED", "(lost)", value, sizeof(value), ini.c_str());
    EXPECT_TRUE(std::string(value) == "OLD1" || std::string(value) == "OLD1," + id) << value;
}

// The updater killed right after a chosen trace line of a copy: each file
// the script touches holds its whole old or whole new bytes, never missing
// or cut, and the next run over the folder completes and leaves no
// temporary name behind, in subfolders neither. A killed run leaves no
// result file, not even an earlier run's; the next run leaves its own.
TEST(FaultRuns, KilledAfterATraceLineOfACopy)
{
    const std::string oldBig(24 << 20, 'o'), newBig(24 << 20, 'n'), newDeep(16 << 20, 'd');
    std::string upd = MakeUpdate("fault_kill_upd", {"copy=big.dat", "copy=fresh.dat", "copy=sub\\deep.dat", "log=k/l"},
                                 {{"big.dat", newBig}, {"fresh.dat", std::string(4 << 20, 'f')}});
    ASSERT_TRUE(CreateDirectoryA((upd + "sub").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(upd + "sub\\deep.dat", newDeep));
    // The line and its occurrence: the first copy replaces big.dat, the
    // second makes fresh.dat (no old file), the third replaces sub\deep.dat.
    const std::vector<std::pair<std::string, int>> points = {{"\t\t\t\tDelete   dst\r\n", 1},
                                                             {"\t\t\t\tDelete Fail - ", 1},
                                                             {"\t\t\t\tDelete   dst\r\n", 2},
                                                             {"\t\t\t\tCopy\tsrc -> dst\r\n", 1}};
    for (const auto &point : points) {
        SCOPED_TRACE("killed after \"" + point.first + "\" #" + std::to_string(point.second));
        std::string app = MakeInstalledFolder("fault_kill_app", "1.10");
        ASSERT_TRUE(WriteFileBytes(app + "MIRO42.INI", kSettings));
        ASSERT_TRUE(WriteFileBytes(app + "big.dat", oldBig));
        ASSERT_TRUE(CreateDirectoryA((app + "sub").c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(app + "sub\\deep.dat", "old deep"));
        std::string resultDir = MakeTestDir("fault_kill_result");
        ASSERT_TRUE(WriteFileBytes(resultDir + "r.json", "{\"exitCode\": 0}"));
        ASSERT_TRUE(KillAfterTraceLine(upd, app, point.first, point.second, " -result=" + resultDir + "r.json"))
            << "the run ended before the line:\n" << TraceNow();
        EXPECT_EQ(ReadTree(resultDir), TreeState{});
        std::string big = ReadFileBytes(app + "big.dat");
        EXPECT_TRUE(big == oldBig || big == newBig) << "big.dat: " << big.size() << " bytes";
        std::string deep = ReadFileBytes(app + "sub\\deep.dat");
        EXPECT_TRUE(deep == "old deep" || deep == newDeep) << "deep.dat: " << deep.size() << " bytes";
        if (FileExists(app + "fresh.dat")) {
            EXPECT_EQ(ReadFileBytes(app + "fresh.dat").size(), 4u << 20);
        }
        ExpectSettingsKept(app + "MIRO42.INI", "FAULT");

        RunResult r = RunProgram(upd + "Lumiupd.exe", "-auto -silent \"" + app + "\" -result=" + resultDir + "r.json", {});
        EXPECT_EQ(r.exitCode, 0u) << BoxTexts(r);
        EXPECT_EQ(ReadFileBytes(resultDir + "r.json").rfind("{\n  \"exitCode\": 0,\n", 0), 0u);
        TreeState after = ReadTree(app);
        EXPECT_EQ(TemporaryNames(after), std::vector<std::string>{});
        EXPECT_TRUE(ReadFileBytes(app + "big.dat") == newBig);
        EXPECT_TRUE(ReadFileBytes(app + "sub\\deep.dat") == newDeep);
        ExpectSettingsKept(app + "MIRO42.INI", "FAULT");
    }
}

// Another process plants links at every name the updater writes in the
// installed copy: before the run at the files it replaces and the history
// and settings files (hard links and symbolic links to files outside), and
// during the run at each leftover name the moment it appears. Nothing
// outside the installed copy changes, with or without anyone at the screen;
// a name with a second name is given a new file of its own.
TEST(FaultRuns, LinksPlantedAtTheNamesItWritesChangeNothingOutside)
{
    std::string upd = MakeUpdate("fault_links_upd", {"copy=data.dat", "copy=sub\\deep.dat", "log=a/b"},
                                 {{"data.dat", std::string(3 << 20, 'n')}});
    ASSERT_TRUE(CreateDirectoryA((upd + "sub").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(upd + "sub\\deep.dat", "new deep"));
    std::string outside = MakeTestDir("fault_links_outside");
    const std::vector<std::string> targets = {"hard.dat", "sym.dat", "log.txt", "settings.ini", "planted.dat"};
    for (bool unattended : {false, true}) {
        SCOPED_TRACE(unattended ? "unattended" : "with the question");
        std::string app = MakeInstalledFolder("fault_links_app", "1.10");
        for (const std::string &name : targets) {
            SetFileAttributesA((outside + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            ASSERT_TRUE(WriteFileBytes(outside + name, "protected " + name));
        }
        ASSERT_TRUE(SetFileAttributesA((outside + "planted.dat").c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(CreateDirectoryA((app + "sub").c_str(), nullptr));
        ASSERT_TRUE(DeleteFileA((app + "MIRO42.INI").c_str()));
        ASSERT_TRUE(CreateHardLinkA((app + "data.dat").c_str(), (outside + "hard.dat").c_str(), nullptr));
        ASSERT_TRUE(CreateHardLinkA((app + "MIRO42.INI").c_str(), (outside + "settings.ini").c_str(), nullptr));
        UnixLink deepLink(app + "sub\\deep.dat", outside + "sym.dat"), logLink(app + "update.log", outside + "log.txt");
        ASSERT_TRUE(deepLink.Planted() && logLink.Planted());
        std::atomic<bool> stop{false};
        std::atomic<int> planted{0};
        std::thread planter([&] {
            while (!stop) {
                for (const std::string &folder : {app, app + "sub\\"}) {
                    WIN32_FIND_DATAA found;
                    HANDLE search = FindFirstFileA((folder + "~lu*").c_str(), &found);
                    if (search == INVALID_HANDLE_VALUE)
                        continue;
                    do {
                        std::string name = folder + found.cFileName;
                        if (DeleteFileA(name.c_str()) &&
                            CreateHardLinkA(name.c_str(), (outside + "planted.dat").c_str(), nullptr))
                            planted++;
                    } while (FindNextFileA(search, &found));
                    FindClose(search);
                }
            }
        });
        RunResult r;
        if (unattended) {
            r = RunProgram(upd + "Lumiupd.exe", "-unattended \"" + app + "\"", {});
        } else {
            r = RunUpdate(upd, app, {{IDYES}, {IDOK}});
        }
        stop = true;
        planter.join();
        EXPECT_EQ(r.exitCode, 0u) << BoxTexts(r);
        EXPECT_EQ(planted, 0);
        for (const std::string &name : targets)
            EXPECT_EQ(ReadFileBytes(outside + name), "protected " + name) << name;
        EXPECT_NE(GetFileAttributesA((outside + "planted.dat").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        // The installed names hold the new files, the settings file with a
        // second name a new file of its own; the link at the history is
        // left as it was.
        EXPECT_TRUE(ReadFileBytes(app + "data.dat") == std::string(3 << 20, 'n'));
        EXPECT_EQ(ReadFileBytes(app + "sub\\deep.dat"), "new deep");
        char installed[64] = "";
        GetPrivateProfileStringA("MAIN", "INSTALLED", "", installed, sizeof(installed), (app + "MIRO42.INI").c_str());
        EXPECT_STREQ(installed, "FAULT");
        EXPECT_EQ(ReadFileBytes(app + "MIRO42.INI").rfind("protected settings.ini", 0), 0u);
        EXPECT_EQ(TemporaryNames(ReadTree(app)), std::vector<std::string>{});
    }
}

std::string DesktopFolder()
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, IsUserAnAdmin() ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY, nullptr, 0,
                     path);
    return path;
}

std::string NoBackslash(const std::string &folder)
{
    return folder.substr(0, folder.size() - 1);
}

// The other side of the guards above, on an ordinary machine: an installed
// copy reached through a link (moved to another drive and linked back) is
// updated like any other, a shortcut goes into a folder reached through a
// link, a file another program holds sharing reading and writing is written
// in place, and a file with a second name loses only this one; a dry run
// first reads the settings file there. A link inside the installed copy is
// still refused, with the usual question.
TEST(FaultRuns, ACopyReachedThroughALinkIsUpdatedAndALinkInsideItIsNot)
{
    const std::string newHeld = "new held file, longer than the old one";
    std::string upd = MakeUpdate("fault_linked_upd",
                                 {"copy=data.dat", "copy=held.dat", "remove=both.dat", "copy=sub\\deep.dat",
                                  "shortcut=%DESKTOP%LumiLinked\\ルミテル,MIRO42.DLL", "log=a/b"},
                                 {{"data.dat", "new data"}, {"held.dat", newHeld}});
    ASSERT_TRUE(CreateDirectoryA((upd + "sub").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(upd + "sub\\deep.dat", "new deep"));
    std::string real = MakeInstalledFolder("fault_linked_real", "1.10");
    std::string outside = MakeTestDir("fault_linked_outside");
    std::string linkFolder = MakeTestDir("fault_linked_desktop");
    std::string app = MakeTestDir("fault_linked_app");
    ASSERT_TRUE(RemoveDirectoryA(app.c_str()));
    ASSERT_TRUE(WriteFileBytes(real + "MIRO42.INI", kSettings));
    ASSERT_TRUE(WriteFileBytes(real + "data.dat", "old data"));
    ASSERT_TRUE(WriteFileBytes(real + "held.dat", "old held"));
    ASSERT_TRUE(WriteFileBytes(outside + "deep.dat", "protected deep"));
    ASSERT_TRUE(WriteFileBytes(outside + "both.dat", "kept by its other name"));
    ASSERT_TRUE(CreateHardLinkA((real + "both.dat").c_str(), (outside + "both.dat").c_str(), nullptr));
    UnixLink appLink(NoBackslash(app), NoBackslash(real)), subLink(real + "sub", NoBackslash(outside)),
        deskLink(DesktopFolder() + "\\LumiLinked", NoBackslash(linkFolder));
    ASSERT_TRUE(appLink.Planted() && subLink.Planted() && deskLink.Planted());
    // The dry run reads the settings file where the run will write it, and
    // changes nothing.
    std::string report = MakeTestDir("fault_linked_whatif") + "report.txt";
    TreeState untouched = ReadTree(real);
    RunProgram(upd + "Lumiupd.exe", "-whatif=" + report + " \"" + app + "\"", {});
    EXPECT_EQ(TreeChanges(untouched, ReadTree(real)), std::vector<std::string>{});
    EXPECT_NE(ReadFileBytes(report).find("INSTALLED: " + app + "MIRO42.INI [MAIN] INSTALLED=OLD1 \xE2\x86\x92 OLD1,FAULT"),
              std::string::npos)
        << ReadFileBytes(report);
    HANDLE holder = CreateFileA((real + "held.dat").c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    RunResult r = RunUpdate(upd, app, {{IDYES}, {IDIGNORE}, {IDOK}});
    CloseHandle(holder);
    ExpectBoxes(r, 0, {SystemText(ERROR_CANT_RESOLVE_FILENAME)});
    EXPECT_EQ(ReadFileBytes(real + "data.dat"), "new data");
    EXPECT_EQ(ReadFileBytes(real + "held.dat"), newHeld);
    EXPECT_FALSE(FileExists(real + "both.dat"));
    EXPECT_EQ(ReadFileBytes(outside + "both.dat"), "kept by its other name");
    EXPECT_EQ(ReadFileBytes(outside + "deep.dat"), "protected deep");
    ExpectSettingsKept(real + "MIRO42.INI", "FAULT");
    char installed[64] = "";
    GetPrivateProfileStringA("MAIN", "INSTALLED", "", installed, sizeof(installed), (real + "MIRO42.INI").c_str());
    EXPECT_STREQ(installed, "OLD1,FAULT");
    EXPECT_NE(ReadFileBytes(real + "update.log").find("\tFAULT\ta\tb\r\n"), std::string::npos);
    EXPECT_GT(ReadFileBytes(linkFolder + "ルミテル.lnk").size(), 0u);
    EXPECT_EQ(TemporaryNames(ReadTree(real)), std::vector<std::string>{});
    EXPECT_EQ(TemporaryNames(ReadTree(linkFolder)), std::vector<std::string>{});
    DeleteFileA((linkFolder + "ルミテル.lnk").c_str());
}

// A read-only installed file cannot be removed: Retry asks again, Abort
// ends the run, Ignore goes on; the file stays as it was. (Replacing one is
// refused on Windows; Wine run by root writes through the attribute, so the
// copy case is left to the command's own tests.)
TEST(FaultRuns, ReadOnlyInstalledFile)
{
    std::string upd = MakeUpdate("fault_ro_upd", {"copy=MIRO42.DLL", "remove=data.dat", "log=a/b"},
                                 {{"MIRO42.DLL", "new library"}});
    const std::string denied = SystemText(ERROR_ACCESS_DENIED);
    for (bool ignore : {false, true}) {
        SCOPED_TRACE(ignore ? "ignored" : "aborted");
        std::string app = MakeInstalledFolder("fault_ro_app", "1.10");
        ASSERT_TRUE(WriteFileBytes(app + "data.dat", "old data"));
        ASSERT_TRUE(SetFileAttributesA((app + "data.dat").c_str(), FILE_ATTRIBUTE_READONLY));
        TreeState before = ReadTree(app);
        RunResult r;
        if (ignore) {
            r = RunUpdate(upd, app, {{IDYES}, {IDIGNORE}, {IDOK}});
            ExpectBoxes(r, 0, {denied});
        } else {
            r = RunUpdate(upd, app, {{IDYES}, {IDRETRY}, {IDABORT}, {IDOK}});
            ExpectBoxes(r, 4, {denied, denied});
        }
        TreeState after = ReadTree(app);
        EXPECT_EQ(after["data.dat"], before["data.dat"]);
        EXPECT_EQ(ReadFileBytes(app + "data.dat"), "old data");
        Changes expected = ignore ? Changes{"MIRO42.DLL", "MIRO42.INI", "update.log"} : Changes{"MIRO42.DLL"};
        EXPECT_EQ(TreeChanges(before, after), expected);
        SetFileAttributesA((app + "data.dat").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// The small disk W: (a 4 MiB tmpfs set up around this test by ctest).
class FullDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        ULARGE_INTEGER avail, total, free;
        if (!GetDiskFreeSpaceExA("W:\\", &avail, &total, &free) || total.QuadPart > 8u * 1024 * 1024)
            GTEST_SKIP() << "no small disk W: (mounting a tmpfs needs root)";
        app = "W:\\app\\";
        RemoveTree(app);
        ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(app + "RT_IDX.DAT", DataFileBytes("1.10")));
        ASSERT_TRUE(CopyFileA((BinDir() + "MIRO42_fixture.dll").c_str(), (app + "MIRO42.DLL").c_str(), FALSE));
        ASSERT_TRUE(WriteFileBytes(app + "MIRO42.INI", "[MAIN]\r\nINSTALLED=\r\n"));
    }
    void TearDown() override { RemoveTree("W:\\app"); }

    std::string app;
};

// A plug-in fills the disk after the space check; the next copy replaces an
// installed file with a larger one and cannot: Abort leaves the old file.
TEST_F(FullDisk, DiskFilledBetweenTheCheckAndTheCopyOfAnInstalledFile)
{
    ASSERT_TRUE(WriteFileBytes(app + "big.dat", std::string(100 * 1024, 'o')));
    std::string upd = MakeUpdate("fault_disk_upd",
                                 {"copy=small.dat", "dll=fill.bin,lumiplugin.dll,FillDisk", "copy=big.dat"},
                                 {{"small.dat", "small"}, {"big.dat", std::string(300 * 1024, 'n')}});
    TreeState before = ReadTree(app);
    RunResult r = RunUpdate(upd, app, {{IDYES}, {IDABORT}, {IDOK}});
    ExpectBoxes(r, 4, {SystemText(ERROR_DISK_FULL)});
    EXPECT_EQ(TreeChanges(before, ReadTree(app)), (Changes{"fill.bin", "small.dat"}));
    EXPECT_TRUE(ReadFileBytes(app + "big.dat") == std::string(100 * 1024, 'o')) << "the installed file changed";
}

// The same for a file the installed copy did not have: nothing half-written
// is left behind.
TEST_F(FullDisk, DiskFilledBetweenTheCheckAndTheCopyOfANewFile)
{
    std::string upd = MakeUpdate("fault_disk_upd", {"dll=fill.bin,lumiplugin.dll,FillDisk", "copy=new.dat"},
                                 {{"new.dat", std::string(300 * 1024, 'n')}});
    TreeState before = ReadTree(app);
    RunResult r = RunUpdate(upd, app, {{IDYES}, {IDABORT}, {IDOK}});
    ExpectBoxes(r, 4, {SystemText(ERROR_DISK_FULL)});
    EXPECT_EQ(TreeChanges(before, ReadTree(app)), Changes{"fill.bin"});
}

// Room for what the update adds, not for the large file's new version beside
// its old one: refused with 7 before anything changes, where the small file
// had been replaced first and the large one then met a full disk.
TEST_F(FullDisk, TightDriveIsRefusedBeforeAnythingChanges)
{
    const size_t big = 1024 * 1024;
    ASSERT_TRUE(WriteFileBytes(app + "big.dat", std::string(big, 'o')));
    std::string upd = MakeUpdate("fault_tight_upd", {"copy=small.dat", "copy=big.dat"},
                                 {{"small.dat", std::string(64 * 1024, 's')}, {"big.dat", std::string(big, 'n')}});
    // Every file of the update folder is new here but big.dat, which
    // replaces one of its own size.
    unsigned long long adds = 0;
    for (const auto &entry : ReadTree(upd))
        if (entry.first != "big.dat")
            adds += ReadFileBytes(upd + entry.first).size();
    ULARGE_INTEGER avail;
    ASSERT_TRUE(GetDiskFreeSpaceExA("W:\\", &avail, nullptr, nullptr));
    ASSERT_GT(avail.QuadPart, adds + big);
    ASSERT_TRUE(WriteFileBytes(app + "pad.bin", std::string((size_t)(avail.QuadPart - adds - big / 2), 'p')));
    TreeState before = ReadTree(app);
    RunResult r = RunUpdate(upd, app, {{IDYES}});
    ExpectBoxes(r, 7, {});
    EXPECT_EQ(TreeChanges(before, ReadTree(app)), Changes{});
}

// What a killed run left on a drive it had filled: cleared before the space
// check counts the drive, so it cannot refuse this run and every later one.
TEST_F(FullDisk, LeftoverOfAKilledRunDoesNotHoldTheDrive)
{
    std::string upd = MakeUpdate("fault_leftover_upd", {"copy=new.dat"}, {{"new.dat", std::string(300 * 1024, 'n')}});
    ULARGE_INTEGER avail;
    ASSERT_TRUE(GetDiskFreeSpaceExA("W:\\", &avail, nullptr, nullptr));
    ASSERT_TRUE(WriteFileBytes(app + "~lu00000000000001B8.tmp", std::string((size_t)avail.QuadPart - 100 * 1024, 'p')));
    RunResult r = RunUpdate(upd, app, {{IDYES}, {IDOK}});
    ExpectBoxes(r, 0, {});
    EXPECT_FALSE(FileExists(app + "~lu00000000000001B8.tmp"));
    EXPECT_EQ(ReadFileBytes(app + "new.dat").size(), 300u * 1024);
}

// A second writer on the disk: once started, it takes whatever room is freed
// there, until stopped (then its file is removed).
class SecondWriter {
public:
    explicit SecondWriter(const std::string &path) : path_(path) {}
    ~SecondWriter() { Stop(); }
    void Start()
    {
        thread_ = std::thread([this] {
            HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            static const char block[4096] = {};
            while (file != INVALID_HANDLE_VALUE && !stop_) {
                DWORD written = 0;
                if (!WriteFile(file, block, sizeof(block), &written, nullptr) || written < sizeof(block))
                    Sleep(1);
            }
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
        });
    }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        DeleteFileA(path_.c_str());
    }

private:
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The disk is full when the copy of an installed file starts (a plug-in
// filled it) and a second writer takes any room freed during the run. The
// old file is never given up for room: the disk-full prompt comes with the
// old file whole. Before answering, the user frees the disk: Abort ends the
// run with 4, Ignore keeps the old file and goes on.
TEST_F(FullDisk, SecondWriterFillsTheDriveDuringACopy)
{
    const std::string oldBig(300 * 1024, 'o');
    std::string upd = MakeUpdate("fault_writer_upd",
                                 {"dll=fill.bin,lumiplugin.dll,FillDisk", "copy=big.dat", "copy=small.dat"},
                                 {{"big.dat", std::string(200 * 1024, 'n')}, {"small.dat", "small"}});
    for (int answer : {IDABORT, IDIGNORE}) {
        SCOPED_TRACE(answer == IDABORT ? "aborted" : "ignored");
        ASSERT_TRUE(WriteFileBytes(app + "big.dat", oldBig));
        ASSERT_TRUE(WriteFileBytes(app + "MIRO42.INI", kSettings));
        TreeState before = ReadTree(app);
        SecondWriter writer("W:\\second.bin");
        RunOptions options;
        options.answers = {{IDYES}, {answer}, {IDOK}};
        options.beforeAnswer = [&](HWND, int index) {
            if (index == 1) {
                writer.Stop();
                DeleteFileA((app + "fill.bin").c_str());
            }
        };
        // The writer starts once the plug-in has filled the disk (read
        // without opening the updater's files).
        std::thread watch([&] {
            DWORD start = GetTickCount();
            ULARGE_INTEGER avail = {};
            while (!(FileExists(app + "fill.bin") && GetDiskFreeSpaceExA("W:\\", &avail, nullptr, nullptr) &&
                     avail.QuadPart < 4096) &&
                   GetTickCount() - start < 30000)
                Sleep(1);
            writer.Start();
        });
        RunResult r = RunProgram(upd + "Lumiupd.exe", "\"" + app + "\"", options);
        watch.join();
        writer.Stop();
        DeleteFileA((app + "fill.bin").c_str());
        EXPECT_TRUE(ReadFileBytes(app + "big.dat") == oldBig) << "big.dat: " << ReadFileBytes(app + "big.dat").size();
        if (answer == IDABORT) {
            ExpectBoxes(r, 4, {SystemText(ERROR_DISK_FULL)});
            EXPECT_EQ(TreeChanges(before, ReadTree(app)), Changes{});
        } else {
            ExpectBoxes(r, 0, {SystemText(ERROR_DISK_FULL)});
            EXPECT_EQ(TreeChanges(before, ReadTree(app)), (Changes{"MIRO42.INI", "small.dat"}));
        }
        ExpectSettingsKept(app + "MIRO42.INI", "FAULT");
    }
}

// INSTALLED is written when the disk is full: the settings file keeps every
// other key and section. The new value needs a page more than the old file;
// the disk has no page free, or one (a file removed after the fill), so that
// a copy of the settings fits but its rewrite with the new value does not.
TEST_F(FullDisk, InstalledWrittenOnAFullDrive)
{
    // Settings that fill a page to within a byte, the last key last (the
    // system writes them back without the blank line, and adds ",FAULT").
    std::string settings = std::string(kSettings) + "[RECENT]\r\n";
    for (int i = 0; i < 50; i++)
        settings += "FILE" + std::to_string(i) + "=C:\\LumiData\\doc.lmt\r\n";
    const std::string pad(4095 - settings.size() - 6 - 10, 'p');
    settings += "PAD=" + pad + "\r\nLAST=end\r\n";
    ASSERT_EQ(settings.size(), 4095u);
    for (bool onePage : {false, true}) {
        SCOPED_TRACE(onePage ? "one page free" : "no room");
        DeleteFileA((app + "fill.bin").c_str());
        ASSERT_TRUE(WriteFileBytes(app + "MIRO42.INI", settings));
        ASSERT_TRUE(WriteFileBytes(app + "page.dat", std::string(4096, 'p')));
        std::vector<std::string> commands = {"copy=small.dat", "dll=fill.bin,lumiplugin.dll,FillDisk"};
        if (onePage)
            commands.push_back("remove=page.dat");
        std::string upd = MakeUpdate("fault_ini_upd", commands, {{"small.dat", "small"}});
        RunResult r = RunUpdate(upd, app, {{IDYES}, {IDOK}});
        ExpectBoxes(r, 0, {});
        DeleteFileA((app + "fill.bin").c_str());
        std::string ini = app + "MIRO42.INI";
        ExpectSettingsKept(ini, "FAULT");
        char value[4096];
        for (const char *key : {"FILE0", "FILE49", "PAD", "LAST"}) {
            GetPrivateProfileStringA("RECENT", key, "(lost)", value, sizeof(value), ini.c_str());
            EXPECT_EQ(value, std::string(key)[0] == 'F' ? "C:\\LumiData\\doc.lmt" : key[0] == 'P' ? pad : "end")
                << key;
        }
    }
}

} // namespace
