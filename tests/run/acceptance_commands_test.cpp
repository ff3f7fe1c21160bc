// docs/examples/every-command.INF on a copy installed under Program Files:
// every command kind, the success text, the post program; then the same
// update declined, unattended, and failing half-way.
#include "acceptance_support.h"

#include "base/messages.h"
#include "exec_testutil.h"
#include "installed.h"
#include "lnkinfo.h"
#include "shellfixture.h"

#include <shlobj.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

const char kQuestion[] = "ルミテルを更新します。\nよろしいですか？";
const char kSuccess[] = "更新が終わりました。\nルミテルを起動します。";
const int kCommands = 8;

std::string Desktop()
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, IsUserAnAdmin() ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY, nullptr, 0,
                     path);
    return path;
}

std::string Today()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[16];
    snprintf(text, sizeof(text), "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

class EveryCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
        vendor = ProgramFilesDir() + "\\Kevrani";
        RemoveTree(vendor);
        link = Desktop() + "\\ルミテル.lnk";
        DeleteFileA(link.c_str());
        // The installed copy where the script's install and post values point.
        std::string made = MakeInstalledFolder("acc_every_app", "1.20");
        ASSERT_FALSE(made.empty());
        ASSERT_TRUE(CreateDirectoryA(vendor.c_str(), nullptr));
        app = vendor + "\\ルミテル\\";
        ASSERT_TRUE(MoveFileA(made.c_str(), app.c_str()));
        ASSERT_TRUE(WriteFileBytes(app + "OLD.DAT", "old data"));
        // The application's program: the recorder, so that its start shows.
        ASSERT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), (app + "LUMITEL.EXE").c_str(), FALSE));
        ASSERT_TRUE(RegisterInstalled("Lumitel", app.substr(0, app.size() - 1)));
        oldLibrary = ReadFileBytes(app + "MIRO42.DLL");

        upd = MakeUpdateFolder("acc_every_upd", ExampleScript("every-command.INF"));
        ASSERT_FALSE(ReadFileBytes(upd + "Lumiupd.INF").empty()) << "no example script";
        ASSERT_TRUE(CreateDirectoryA((upd + "data").c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(upd + "MIRO42.DLL", "new library"));
        ASSERT_TRUE(SetWriteTime(upd + "MIRO42.DLL", MakeFileTime(2024, 3, 5, 8, 0, 1)));
        ASSERT_TRUE(WriteFileBytes(upd + "data\\NEW.DAT", "new data"));
        ASSERT_TRUE(SetWriteTime(upd + "data\\NEW.DAT", MakeFileTime(2024, 3, 4, 17, 45, 0)));
        ASSERT_TRUE(WriteFileBytes(upd + "data\\CONV.DAT", "to convert"));
        ASSERT_TRUE(CopyFileA((BinDir() + "lumiplugin.dll").c_str(), (upd + "UPDHELP.DLL").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), (upd + "CONVERT.EXE").c_str(), FALSE));
    }
    void TearDown() override
    {
        KeepTraceIfFailed();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
        RemoveTree(vendor);
        DeleteFileA(link.c_str());
    }
    void ExpectUntouched()
    {
        EXPECT_TRUE(ReadFileBytes(app + "MIRO42.DLL") == oldLibrary);
        EXPECT_EQ(ReadFileBytes(app + "OLD.DAT"), "old data");
        EXPECT_EQ(InstalledIds(app), "");
        EXPECT_EQ(ListFolder(app), (std::vector<std::string>{"LUMITEL.EXE", "MIRO42.DLL", "MIRO42.INI", "OLD.DAT",
                                                              "RT_IDX.DAT"}));
        EXPECT_FALSE(FileExists(upd + "CONVERT.txt")) << "the exe command ran";
        EXPECT_FALSE(FileExists(link));
    }
    // The post program has not started (given time to show if it had).
    void ExpectNoPostProgram()
    {
        Sleep(500);
        EXPECT_FALSE(FileExists(app + "LUMITEL.txt"));
        EXPECT_FALSE(TraceMentions("StartProcess"));
    }

    std::string vendor, app, upd, link, oldLibrary;
};

// The progress dialog's path labels, command by command.
std::vector<std::pair<std::string, std::string>> LabelPairs(const std::string &upd, const std::string &app,
                                                            size_t count)
{
    const char *files[] = {"data", "MIRO42.DLL", "data\\NEW.DAT", "OLD.DAT", "data\\CONV.DAT",
                           "CONVERT.EXE", "LUMITEL.EXE", "2024年3月/データ更新"};
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 0; i < count; i++)
        pairs.push_back({upd + files[i], app + files[i]});
    return pairs;
}

// Every command's trace, from the executor's entry to the run's result.
std::vector<std::string> UpdateTrace(const std::string &upd, const std::string &app, const std::string &desktop,
                                     DWORD shellPid)
{
    std::vector<std::string> lines = {"\t[Update]>>",
                                      "\t\t[Create]>>",
                                      "\t\t\tDname = " + app + "data",
                                      "",
                                      "\t\t\tCreateDirectory.",
                                      "\t\t\t\tSucceed.",
                                      "\t\tbResult = 1",
                                      "\t\t[Create]<<"};
    Append(&lines, CopyTrace(upd + "MIRO42.DLL", app + "MIRO42.DLL", "2024/03/05-08:00:01", true));
    Append(&lines, CopyTrace(upd + "data\\NEW.DAT", app + "data\\NEW.DAT", "2024/03/04-17:45:00", false));
    std::string command = upd + "CONVERT.EXE", pid = std::to_string(shellPid);
    Append(&lines, {"\t\t[Delete]>>",
                    "\t\t\t" + app + "OLD.DAT",
                    "\t\tbResult = 1",
                    "\t\t[Delete]<<",
                    "\t\t[AddOn]>>",
                    "\t\t\tsrc  = " + upd + "data\\CONV.DAT",
                    "\t\t\tdst  = " + app + "data\\CONV.DAT",
                    "\t\t\tdll  = UPDHELP.DLL",
                    "\t\t\tfunc = RecordPaths",
                    "\t\tbResult = 1",
                    "\t\t[AddOn]<<",
                    "\t\t[Exec]>>",
                    "\t\t\tcommand\t= " + command,
                    "\t\t\tdst\t\t= " + app,
                    "\t\t\tparam\t\t= /in \"%DSTPATH%data\" /quiet",
                    "\t\t\tszParamExpanded\t\t= /in \"" + ShortPath(app) + "data\" /quiet",
                    "\t\t\tExpandEnvironmentStrings( )\t= " + std::to_string(command.size() + 1),
                    "\t\t\tszCommandExpanded\t\t\t\t= " + command,
                    "\t\t\tShellExecuteEx = 1",
                    "\t\t\t\tGetExitCodeProcess() = TRUE",
                    "\t\t\t\t\tExitCode= 0",
                    "\t\tbResult = 1",
                    "\t\t[Exec]<<",
                    "\t\t[Shortcut]>>",
                    "\t\t\tpath   = " + desktop + "\\ルミテル",
                    "\t\t\tfolder = " + app,
                    "\t\t\tfile   = LUMITEL.EXE",
                    "\t\t\t[CreateDirectoryAll]>>",
                    "\t\t\t[CreateDirectoryAll(1)]<<",
                    "\t\tbResult = 1",
                    "\t\t[Shortcut]<<",
                    "\t\t[Log]>>",
                    "\t\t\tpath    = " + app,
                    "\t\t\tcomment = 2024年3月/データ更新",
                    "\t\tbResult = 1",
                    "\t\t[Log]<<",
                    "\tbResult = 1",
                    "\t[Update]<<",
                    "StartProcess(\"" + app + "LUMITEL.EXE\")",
                    "\tGetShellWindow() succeeded. [{*}]",
                    "\tGetWindowThreadProcessId({*})",
                    "\tPID = " + pid,
                    "\tOpenProcess(PROCESS_QUERY_INFORMATION, FALSE, " + pid + ") succeeded. [{*}]",
                    "\tOpenProcessToken({*}, TOKEN_DUPLICATE) succeeded. [{*}]",
                    "\tDuplicateTokenEx({*}, TOKEN_QUERY|TOKEN_ASSIGN_PRIMARY|TOKEN_DUPLICATE|TOKEN_ADJUST_DEFAULT|"
                    "TOKEN_ADJUST_SESSIONID, NULL, SecurityImpersonation, TokenPrimary) succeeded. [{*}]",
                    // The command line quoted for its space, the folder
                    // without its backslash, both whole.
                    "\tCreateProcessWithTokenW({*}, 0, NULL, \"\"" + app + "LUMITEL.EXE\"\", 0, NULL, \"" +
                        app.substr(0, app.size() - 1) + "\") succeeded.",
                    "StartProcess() succeeded.",
                    "",
                    "nResult = 0"});
    return lines;
}

// Yes: each command's effect where the application and the user see it, the
// success text with its line break, then the application started again.
TEST_F(EveryCommand, AnsweredYes)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    std::string day = Today();
    UpdaterRun r = RunUpdater(upd, "", {{IDYES}, {IDOK}});
    ExpectSucceeded(r, kQuestion, kSuccess);
    EXPECT_EQ(r.events, (std::vector<std::string>{"box", "progress", "box"}));
    EXPECT_EQ(r.progress.paths, LabelPairs(upd, app, kCommands));

    // create, copy, remove
    EXPECT_EQ(ReadFileBytes(app + "MIRO42.DLL"), "new library");
    EXPECT_EQ(ReadFileBytes(app + "data\\NEW.DAT"), "new data");
    for (const char *name : {"MIRO42.DLL", "data\\NEW.DAT"}) {
        FILETIME creation, write, srcCreation, srcWrite;
        ASSERT_TRUE(ReadTimes(app + name, &creation, &write));
        ASSERT_TRUE(ReadTimes(upd + name, &srcCreation, &srcWrite));
        EXPECT_TRUE(SameTime(creation, srcWrite) && SameTime(write, srcWrite)) << name;
    }
    EXPECT_FALSE(FileExists(app + "OLD.DAT"));
    // dll: the plug-in beside the updater got the update's and the copy's path.
    EXPECT_EQ(ReadFileBytes(app + "data\\CONV.DAT"), upd + "data\\CONV.DAT\r\n" + app + "data\\CONV.DAT\r\n");
    // exe: started from the update with the copy's short path in its parameters.
    std::vector<std::string> convert = RecordLines(upd + "CONVERT.txt");
    ASSERT_EQ(convert.size(), 2u);
    EXPECT_EQ(convert[0], "\"" + upd + "CONVERT.EXE\" /in \"" + ShortPath(app) + "data\" /quiet");
    // shortcut: on the desktop, pointing at the program in the copy.
    std::string info = LnkInfo(link);
    EXPECT_EQ(LnkLocalPath(info), app + "LUMITEL.EXE") << info;
    // log and the installed list
    std::string history = ReadFileBytes(app + "update.log");
    EXPECT_TRUE(history == day + "\tU0302\t2024年3月\tデータ更新\r\n" ||
                history == Today() + "\tU0302\t2024年3月\tデータ更新\r\n")
        << history;
    EXPECT_EQ(InstalledIds(app), "U0302");
    // post: the application, quoted for its space, in its own folder.
    std::vector<std::string> post = RecordLines(app + "LUMITEL.txt");
    ASSERT_EQ(post.size(), 2u);
    EXPECT_EQ(post[0], "\"" + app + "LUMITEL.EXE\"");
    EXPECT_EQ(post[1], app.substr(0, app.size() - 1));
    // Nothing else came or went (the record is the started program's).
    EXPECT_EQ(ListFolder(app), (std::vector<std::string>{"LUMITEL.EXE", "LUMITEL.txt", "MIRO42.DLL", "MIRO42.INI",
                                                          "RT_IDX.DAT", "data", "update.log"}));
    EXPECT_EQ(ListFolder(app + "data\\"), (std::vector<std::string>{"CONV.DAT", "NEW.DAT"}));

    EXPECT_TRUE(TraceHas("\t\tubResult = 1"));
    ExpectLines(TraceBetween("\t[Update]>>", "nResult = 0"), UpdateTrace(upd, app, Desktop(), shell.Pid()));
}

// A dry run first changes nothing on the machine and shows no window; then
// the real run of the same folder on that same machine does, command by
// command, what each of the dry run's findings said it would.
TEST_F(EveryCommand, DryRunForetellsTheRealRun)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    std::string report = MakeTestDir("acc_every_whatif") + "report.txt";
    std::vector<std::string> watched = {vendor + "\\", upd, Desktop() + "\\"};
    std::string before = MachineSnapshot(watched);
    std::string oldLibrary = std::to_string(ReadFileBytes(app + "MIRO42.DLL").size()) + " バイト " +
                             ReportTime(app + "MIRO42.DLL");
    std::string oldData = "8 バイト " + ReportTime(app + "OLD.DAT");
    UpdaterRun dry = RunUpdater(upd, "/WhatIf=" + report, {});
    ASSERT_FALSE(dry.timedOut);
    EXPECT_EQ(dry.exitCode, 0u);
    EXPECT_TRUE(dry.events.empty()) << "a box or the progress dialog";
    EXPECT_TRUE(MachineSnapshot(watched) == before) << "the dry run changed the machine";
    ExpectNoPostProgram();
    EXPECT_TRUE(TraceHas("dry run (-whatif): nothing is changed; report " + report));
    std::vector<std::string> found = ReportLines(report);
    ASSERT_FALSE(found.empty()) << "no report";
    EXPECT_TRUE(std::find(found.begin(), found.end(), "対象: " + app + " (データバージョン 1.20: 適用できます)") !=
                found.end());
    EXPECT_TRUE(std::find(found.begin(), found.end(), "モジュール: " + app + "MIRO42.DLL: 使用されていません") !=
                found.end());
    std::vector<std::string> predicted(std::find(found.begin(), found.end(), "コマンド: " + app), found.end());

    UpdaterRun r = RunUpdater(upd, "", {{IDYES}, {IDOK}});
    ExpectSucceeded(r, kQuestion, kSuccess);
    std::vector<std::string> plugin = RecordLines(app + "data\\CONV.DAT");
    std::vector<std::string> convert = RecordLines(upd + "CONVERT.txt");
    // The post program may still be writing its record when the updater ends.
    std::vector<std::string> post = RecordLines(app + "LUMITEL.txt");
    for (int i = 0; i < 50 && post.size() < 2; i++) {
        Sleep(100);
        post = RecordLines(app + "LUMITEL.txt");
    }
    ASSERT_EQ(plugin.size(), 2u);
    ASSERT_EQ(convert.size(), 2u);
    ASSERT_EQ(post.size(), 2u);
    size_t quote = convert[0].find('"', 1);
    ASSERT_NE(quote, std::string::npos);
    std::string history = ReadFileBytes(app + "update.log");
    ASSERT_GT(history.size(), 2u);
    std::string done = " を呼び出します: 確認実行のため実行していません";
    ExpectLines(predicted,
                {"コマンド: " + app,
                 (GetFileAttributesA((app + "data").c_str()) & FILE_ATTRIBUTE_DIRECTORY) ? "create: " + app + "data: 作成します"
                                                                                : "(data not made)",
                 "copy: " + upd + "MIRO42.DLL → " + app + "MIRO42.DLL: 置き換えます (旧 " + oldLibrary + "、新 " +
                     std::to_string(ReadFileBytes(app + "MIRO42.DLL").size()) + " バイト " +
                     ReportTime(app + "MIRO42.DLL") + ")",
                 "copy: " + upd + "data\\NEW.DAT → " + app + "data\\NEW.DAT: 新しく置きます (" +
                     std::to_string(ReadFileBytes(app + "data\\NEW.DAT").size()) + " バイト " +
                     ReportTime(app + "data\\NEW.DAT") + ")",
                 FileExists(app + "OLD.DAT") ? "(OLD.DAT kept)" : "remove: " + app + "OLD.DAT: 削除します (" + oldData + ")",
                 "dll: UPDHELP.DLL (" + upd + "UPDHELP.DLL) の RecordPaths(" + plugin[0] + ", " + plugin[1] + ")" + done,
                 "exe: " + convert[0].substr(1, quote - 1) + " を引数 [" + convert[0].substr(quote + 2) +
                     "] で起動し、終了を待ちます: 確認実行のため実行していません",
                 "shortcut: " + link + ": 作成します (リンク先 " + LnkLocalPath(LnkInfo(link)) + ")",
                 "log: " + app + "update.log に追加します: " + history.substr(0, history.size() - 2),
                 "INSTALLED: " + app + "MIRO42.INI [MAIN] INSTALLED= → " + InstalledIds(app),
                 "post: " + post[0].substr(1, post[0].size() - 2) +
                     " をデスクトップのユーザーとして起動します: 確認実行のため起動していません",
                 "終了コード: 0 実際の更新の終了コードは、コマンドの結果によって 0 か 4 になります。"});

    // The same update again finds OLD.DAT gone: the dry run foresees its
    // remove failing and ends with 4, and the real run, unattended, then
    // gives that code and each command the outcome the dry run's record said.
    std::string foreseen = MakeTestDir("acc_every_predicted") + "result.json";
    std::string result = MakeTestDir("acc_every_result") + "result.json";
    dry = RunUpdater(upd, "-whatif=" + report + " -result=" + foreseen, {});
    EXPECT_EQ(dry.exitCode, 4u);
    found = ReportLines(report);
    EXPECT_TRUE(std::find(found.begin(), found.end(),
                          "remove: " + app + "OLD.DAT: ありません: 削除に失敗し、中止・再試行・無視を尋ねます (このコマンドは失敗します)") !=
                found.end());
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.back(), "終了コード: 4 " + std::string(MessageTable[4]));
    r = RunUpdater(upd, "-unattended -result=" + result, {});
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_EQ(ResultOutcomes(result), (std::vector<std::string>{"done", "done", "done", "failed", "skipped", "skipped",
                                                                "skipped", "skipped"}));
    EXPECT_EQ(ResultOutcomes(foreseen), ResultOutcomes(result));
}

// The update folder that make package built from a staging tree, with a
// signed updater named after the script (run by the release_package test,
// which gives the folder in LUMIUPD_PACKAGED_FOLDER).
TEST_F(EveryCommand, DISABLED_FromAPackagedFolder)
{
    const char *packaged = getenv("LUMIUPD_PACKAGED_FOLDER");
    ASSERT_TRUE(packaged && *packaged) << "LUMIUPD_PACKAGED_FOLDER names no folder";
    upd = packaged;
    if (upd.back() != '\\')
        upd += '\\';
    ASSERT_TRUE(FileExists(upd + "every-command.exe"));
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    FILETIME started;
    GetSystemTimeAsFileTime(&started);
    UpdaterRun r = RunUpdater(upd, "", {{IDYES}, {IDOK}}, "every-command.exe");
    ExpectSucceeded(r, kQuestion, kSuccess);
    // The packer's manifest is the one the updater checks its folder against.
    std::vector<std::string> lines = TraceLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &l) { return l.rfind("\tupdate folder verified - U0302, ", 0) == 0; }),
              1);
    EXPECT_EQ(r.progress.paths, LabelPairs(upd, app, kCommands));
    EXPECT_EQ(ReadFileBytes(app + "MIRO42.DLL"), "new library");
    EXPECT_EQ(ReadFileBytes(app + "data\\NEW.DAT"), "new data");
    EXPECT_FALSE(FileExists(app + "OLD.DAT"));
    EXPECT_EQ(ReadFileBytes(app + "data\\CONV.DAT"), upd + "data\\CONV.DAT\r\n" + app + "data\\CONV.DAT\r\n");
    // The program ran from its verified copy, and wrote its record there.
    std::string record = StagedFile("CONVERT.txt", started);
    std::vector<std::string> convert = RecordLines(record);
    ASSERT_EQ(convert.size(), 2u) << record;
    // The copy names its stage as the system spells it (Wine: "temp").
    std::string expected = "\"" + record.substr(0, record.size() - 3) + "EXE\" /in \"" + ShortPath(app) + "data\" /quiet";
    EXPECT_EQ(_stricmp(convert[0].c_str(), expected.c_str()), 0) << convert[0] << "\n" << expected;
    EXPECT_FALSE(FileExists(upd + "CONVERT.txt"));
    EXPECT_EQ(LnkLocalPath(LnkInfo(link)), app + "LUMITEL.EXE");
    EXPECT_EQ(InstalledIds(app), "U0302");
    EXPECT_EQ(RecordLines(app + "LUMITEL.txt").size(), 2u);
    EXPECT_EQ(ListFolder(app), (std::vector<std::string>{"LUMITEL.EXE", "LUMITEL.txt", "MIRO42.DLL", "MIRO42.INI",
                                                          "RT_IDX.DAT", "data", "update.log"}));
}

// No: nothing of the script happens, and the application is not started.
TEST_F(EveryCommand, AnsweredNoStartsNothing)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    UpdaterRun r = RunUpdater(upd, "", {{IDNO}});
    ExpectDeclined(r, kQuestion);
    ExpectUntouched();
    ExpectNoPostProgram();
    EXPECT_FALSE(TraceMentions("[CheckFile]"));
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 3], "\t[GetDstPath]<<");
    EXPECT_EQ(lines.back(), "nResult = -1");
}

// Unattended: no box at all, and the application starts at once.
TEST_F(EveryCommand, AutoStartsTheApplicationWithoutABox)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    UpdaterRun r = RunUpdater(upd, "-auto", {});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty()) << r.boxes[0].text;
    EXPECT_EQ(r.events, (std::vector<std::string>{"progress"}));
    EXPECT_EQ(InstalledIds(app), "U0302");
    EXPECT_EQ(RecordLines(app + "LUMITEL.txt").size(), 2u);
    EXPECT_TRUE(TraceHas("StartProcess() succeeded."));
}

// A remove of a file that is already gone, aborted: the progress dialog
// stands at that command, the rest is skipped, and the failure is shown even
// though the run is unattended.
TEST_F(EveryCommand, AutoWithAFailureStillShowsTheBox)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    ASSERT_TRUE(DeleteFileA((app + "OLD.DAT").c_str()));
    UpdaterRun r = RunUpdater(upd, "-auto", {{IDABORT}, {IDOK}});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 4u);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[0].text, SystemText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(r.boxes[0].icon, ICON_WARNING);
    ASSERT_EQ(r.boxes[0].buttons.size(), 3u);
    EXPECT_EQ(r.boxes[0].buttons[0].id, IDABORT);
    EXPECT_EQ(r.boxes[0].buttons[1].id, IDRETRY);
    EXPECT_EQ(r.boxes[0].buttons[2].id, IDIGNORE);
    ExpectClosingBox(r.boxes[1], MessageTable[4], 4);
    EXPECT_EQ(r.events, (std::vector<std::string>{"progress", "box", "box"}));
    ASSERT_EQ(r.progressAtBox.size(), 2u);
    EXPECT_EQ(r.progressAtBox[1].caption, "");
    // Three commands done of eight, the fourth on show.
    ExpectProgress(r.progressAtBox[0], upd + "OLD.DAT", app + "OLD.DAT", 3, kCommands);
    EXPECT_EQ(r.progress.paths, LabelPairs(upd, app, 4));
    // The bar answers while the prompt is up (and may have answered as the
    // dialog was drawn before): it only ever moves on, and stands at 3.
    ASSERT_FALSE(r.progress.bars.empty()) << "the bar answers while the prompt is up";
    int last = 0;
    for (const ProgressReading &bar : r.progress.bars) {
        EXPECT_TRUE(bar.position >= last && bar.low == 0 && bar.high == kCommands)
            << bar.position << " " << bar.low << " " << bar.high;
        last = bar.position;
    }
    EXPECT_EQ(last, 3);
    // The commands before it were carried out, none after it.
    EXPECT_EQ(ReadFileBytes(app + "data\\NEW.DAT"), "new data");
    EXPECT_FALSE(FileExists(app + "data\\CONV.DAT"));
    EXPECT_FALSE(FileExists(upd + "CONVERT.txt"));
    EXPECT_FALSE(FileExists(link));
    EXPECT_FALSE(FileExists(app + "update.log"));
    EXPECT_EQ(InstalledIds(app), "");
    ExpectNoPostProgram();
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 8u);
    ExpectLines(std::vector<std::string>(lines.end() - 8, lines.end()),
                {"\t\t[Delete]>>", "\t\t\t" + app + "OLD.DAT", "\t\tbResult = 0", "\t\t[Delete]<<", "\tbResult = 0",
                 "\t[Update]<<", "", "nResult = 4"});
}

} // namespace
