// Each failure code a user can meet, caused for real: its closing box (also
// in an unattended run), its exit code, what stayed untouched and the trace.
#include "acceptance_support.h"

#include "base/messages.h"
#include "exec_testutil.h"
#include "installed.h"
#include "runningapp.h"
#include "shellfixture.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace {

class FailureCodes : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
        upd = MakeTypicalUpdate("acc_codes_upd");
    }
    void TearDown() override
    {
        KeepTraceIfFailed();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
    }
    std::string Registered(const std::string &name)
    {
        std::string dir = MakeInstalledFolder(name, "1.20");
        EXPECT_FALSE(dir.empty());
        EXPECT_TRUE(RegisterInstalled("Lumitel", dir));
        return dir;
    }
    void ExpectUntouched(const std::string &dir)
    {
        EXPECT_EQ(ReadFileBytes(dir + "MIRO42.DLL"), ReadFileBytes(BinDir() + "MIRO42_fixture.dll"));
        EXPECT_EQ(ReadFileBytes(dir + "RT_IDX.DAT"), DataFileBytes("1.20"));
        EXPECT_EQ(InstalledIds(dir), "");
    }
    // The first four lines of the trace: the log, the command line, the options.
    std::vector<std::string> Head(const std::string &args, int flag, const std::string &dst)
    {
        return {TraceLogPath(), "param=[" + args + "]", "\tcl.flag\t= " + std::to_string(flag), "\tcl.dst\t\t= " + dst};
    }
    // The trace's last lines against tail.
    void ExpectTail(const std::vector<std::string> &tail)
    {
        std::vector<std::string> lines = TraceLines();
        ASSERT_GE(lines.size(), tail.size());
        ExpectLines(std::vector<std::string>(lines.end() - tail.size(), lines.end()), tail);
    }
    // A dry run first: no window, the code the real run then gives, and the
    // report's findings, which end with that code and its text.
    std::vector<std::string> DryRun(const std::string &args, int code)
    {
        std::string report = MakeTestDir("acc_codes_whatif") + "report.txt";
        UpdaterRun r = RunUpdater(upd, "-whatif=" + report + (args.empty() ? "" : " " + args), {});
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ((int)r.exitCode, code);
        EXPECT_TRUE(r.events.empty()) << "a box or the progress dialog";
        std::vector<std::string> lines = ReportLines(report);
        EXPECT_FALSE(lines.empty()) << "no report";
        if (!lines.empty()) {
            EXPECT_EQ(lines.back(), "終了コード: " + std::to_string(code) + " " + MessageTable[code]);
        }
        return lines;
    }
    bool Has(const std::vector<std::string> &lines, const std::string &line)
    {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    // Where a run leaves its result file (the folder is made afresh).
    std::string ResultPath(const std::string &name) { return MakeTestDir("acc_codes_" + name) + "result.json"; }
    // The result file holds text (its fields are written in a fixed layout).
    void ExpectResultHas(const std::string &path, const std::string &text)
    {
        std::string json = ReadFileBytes(path);
        EXPECT_NE(json.find(text), std::string::npos) << text << "\nnot in\n" << json;
    }
    std::string upd;
};

// 2: no script, or a script with a line the updater does not know. The
// result file names the line, or none when there is no script to read.
TEST_F(FailureCodes, UnreadableScriptIs2)
{
    std::string app = Registered("acc_codes_2");
    std::string result = ResultPath("result");
    std::string typical = ExampleScript("typical.INF");
    std::string line = std::to_string(std::count(typical.begin(), typical.end(), '\n') + 1);
    for (const std::string &script : {std::string(), typical + "update=MIRO42.DLL\r\n"}) {
        for (const std::string &args : {std::string(), "-auto -result=" + result}) {
            SCOPED_TRACE(args + (script.empty() ? " no script" : " unknown key"));
            DeleteFileA((upd + "Lumiupd.INF").c_str());
            if (!script.empty()) {
                ASSERT_TRUE(WriteFileBytes(upd + "Lumiupd.INF", script));
            }
            // The dry run's report is written all the same.
            if (!args.empty())
                DryRun(args, 2);
            UpdaterRun r = RunUpdater(upd, args, {});
            ASSERT_FALSE(r.timedOut);
            EXPECT_EQ(r.exitCode, 2u);
            ASSERT_EQ(r.boxes.size(), 1u);
            ExpectClosingBox(r.boxes[0], MessageTable[2], 2);
            std::vector<std::string> trace = Head(args, args.empty() ? 0 : 1, "");
            Append(&trace, {"", "nResult = 2"});
            ExpectTrace(trace);
            if (!args.empty())
                ExpectResultHas(result, script.empty() ? "\"cause\": {\"line\": null, \"text\": null}"
                                                       : "\"cause\": {\"line\": " + line +
                                                             ", \"text\": \"update=MIRO42.DLL\"}");
        }
    }
    // A dry run asked for in a form that cannot be taken is refused before
    // the script is read, no window shown: taken for an unknown option, it
    // had made the run a real update. "--whatif" is a dry run.
    ASSERT_TRUE(WriteFileBytes(upd + "Lumiupd.INF", ExampleScript("typical.INF")));
    std::string log = TraceLogPath();
    std::string defaultReport = log.substr(0, log.size() - strlen("Lumiupd.log")) + "Lumiupd.whatif.txt";
    for (const std::string &option : {"whatif:" + defaultReport, std::string("WhatIfs"), "whatif=C:\\" + std::string(300, 'r')}) {
        SCOPED_TRACE(option.substr(0, 20));
        UpdaterRun r = RunUpdater(upd, "/" + option, {});
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 2u);
        EXPECT_TRUE(r.events.empty()) << "a box or the progress dialog";
        std::vector<std::string> trace = Head("/" + option, 0, "");
        Append(&trace, {"dry run (-whatif): nothing is changed; report " + defaultReport,
                        "\tdry run option refused - " + option.substr(0, 255),
                        "whatif report written: " + defaultReport, "", "nResult = 2"});
        ExpectTrace(trace);
        std::vector<std::string> report = ReportLines(defaultReport);
        EXPECT_TRUE(Has(report, "確認実行のオプション「" + option.substr(0, 255) +
                                    "」は使えません: -whatif または -whatif=PATH と書いてください。何も読まずに終了します"));
        EXPECT_TRUE(Has(report, "終了コード: 2 " + std::string(MessageTable[2])));
    }
    UpdaterRun r = RunUpdater(upd, "--WHATIF", {});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.events.empty()) << "a box or the progress dialog";
    EXPECT_TRUE(TraceHas("dry run (-whatif): nothing is changed; report " + defaultReport));
    ExpectUntouched(app);
}

// 3: nothing registered and no install folder; the offer to pick a folder
// comes even in an unattended run, and No ends it.
TEST_F(FailureCodes, NoInstalledCopyIs3)
{
    std::vector<std::string> found = DryRun("", 3);
    EXPECT_TRUE(Has(found, "対象: " + std::string(MessageTable[3]) + " (「自分で指定しますか？」には「いいえ」と答えました)"));
    for (const char *args : {"", "-auto"}) {
        SCOPED_TRACE(args);
        UpdaterRun r = RunUpdater(upd, args, {{IDNO}, {IDOK}});
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 3u);
        ASSERT_EQ(r.boxes.size(), 2u);
        ExpectQuestion(r.boxes[0], std::string(MessageTable[3]) + "自分で指定しますか？");
        ExpectClosingBox(r.boxes[1], MessageTable[3], 3);
        std::vector<std::string> trace = Head(args, args[0] ? 1 : 0, "");
        Append(&trace, {"\t[GetDstPath]>>", "\t[GetDstPath]<<", "", "nResult = 3"});
        ExpectTrace(trace);
    }
    // A copy this update already ran in (its data version the update's own,
    // its INSTALLED listing the id) is still no destination, but the dry run
    // and the result file tell it from one the update was never for.
    std::string done = MakeInstalledFolder("acc_codes_3_done", "1.30");
    ASSERT_TRUE(WriteFileBytes(done + "MIRO42.INI", "[MAIN]\r\nINSTALLED=U0100,U0301\r\n"));
    ASSERT_TRUE(RegisterInstalled("Lumitel", done));
    found = DryRun("", 3);
    EXPECT_TRUE(Has(found, "対象外: " + done + " (データバージョン 1.30: この更新の target に合いません。INSTALLED に U0301 "
                                             "があり、更新済みです)"));
    std::string result = ResultPath("result");
    UpdaterRun r = RunUpdater(upd, "-unattended -result=" + result, {});
    EXPECT_EQ(r.exitCode, 3u);
    ExpectResultHas(result, "\"dataVersion\": \"1.30\",\n      \"accepted\": false,\n      \"alreadyUpdated\": true");
}

// 4: a program of the script ends with code 2; the command before it stays
// done, the one after it is skipped, the id is not registered.
TEST_F(FailureCodes, FailingCommandIs4)
{
    std::string app = Registered("acc_codes_4");
    ASSERT_TRUE(WriteFileBytes(upd + "Lumiupd.INF", CrLf({"id=U0304", "kakunin=ルミテルを更新します。", "target=1.2",
                                                         "copy=MIRO42.DLL", "exe=CONVERT.EXE,code:2",
                                                         "copy=RT_IDX.DAT"})));
    ASSERT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), (upd + "CONVERT.EXE").c_str(), FALSE));
    std::string result = ResultPath("result");
    UpdaterRun r = RunUpdater(upd, "-result=" + result, {{IDYES}, {IDOK}});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 4u);
    // The record names the program: a program's own code has no system text.
    ExpectResultHas(result, "\"cause\": {\"folder\": " + JsonQuoted(app) + ", \"command\": 2, \"path\": " +
                                JsonQuoted(upd + "CONVERT.EXE") + "}");
    ASSERT_EQ(r.boxes.size(), 2u);
    ExpectClosingBox(r.boxes[1], MessageTable[4], 4);
    EXPECT_EQ(r.events, (std::vector<std::string>{"box", "progress", "box"}));
    EXPECT_TRUE(ReadFileBytes(app + "MIRO42.DLL") == ReadFileBytes(upd + "MIRO42.DLL"));
    EXPECT_EQ(RecordLines(upd + "CONVERT.txt").size(), 2u) << "the program ran";
    EXPECT_EQ(ReadFileBytes(app + "RT_IDX.DAT"), DataFileBytes("1.20"));
    EXPECT_EQ(InstalledIds(app), "");
    ExpectTail({"\t\t\t\tGetExitCodeProcess() = TRUE", "\t\t\t\t\tExitCode= 2", "\t\tbResult = 0", "\t\t[Exec]<<",
                "\tbResult = 0", "\t[Update]<<", "", "nResult = 4"});
}

// An unattended run shows no window at all: the offer to pick a folder is
// answered No, a failing copy Abort, and no closing box follows. The trace
// names each box that was not shown.
TEST_F(FailureCodes, UnattendedRunsShowNoWindow)
{
    UpdaterRun r = RunUpdater(upd, "-unattended", {});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_TRUE(r.events.empty());
    EXPECT_TRUE(TraceHas("\t\tbox not shown (answer No): " + std::string(MessageTable[3]) + "自分で指定しますか？"));
    ExpectTail({"\t[GetDstPath]<<", "\t\tbox not shown (answer OK): " + std::string(MessageTable[3]), "",
                "nResult = 3"});

    std::string app = Registered("acc_codes_unattended");
    ASSERT_TRUE(WriteFileBytes(upd + "Lumiupd.INF", CrLf({"id=U0304", "kakunin=ルミテルを更新します。", "target=1.2",
                                                         "copy=MIRO42.DLL", "copy=nodir\\RT_IDX.DAT",
                                                         "copy=RT_IDX.DAT"})));
    ASSERT_TRUE(CreateDirectoryA((upd + "nodir").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((upd + "RT_IDX.DAT").c_str(), (upd + "nodir\\RT_IDX.DAT").c_str(), FALSE));
    // Folder links in the update folder are not entered by the space
    // check's walk: two links to the folder itself had kept it going for
    // good, and one to another user's folder put its names into the trace.
    std::string other = MakeTestDir("acc_codes_otheruser");
    ASSERT_TRUE(WriteFileBytes(other + "their-secret.txt", "s"));
    UnixLink loop1(upd + "loop1", upd), loop2(upd + "loop2", upd), away(upd + "away", other);
    ASSERT_TRUE(loop1.Planted() && loop2.Planted() && away.Planted());
    // A dry run first foresees the copy into a folder the copy lacks: 4, and
    // the same outcome for every command as the real run then gives.
    std::string predicted = ResultPath("predicted"), result = ResultPath("result");
    std::vector<std::string> found = DryRun("-result=" + predicted, 4);
    EXPECT_TRUE(Has(found, "copy: " + upd + "nodir\\RT_IDX.DAT → " + app +
                               "nodir\\RT_IDX.DAT: コピー先のフォルダがありません (このコマンドは失敗します)"));
    EXPECT_TRUE(Has(found, "INSTALLED: " + app + "MIRO42.INI: コマンドが失敗するため登録しません"));
    ExpectResultHas(predicted, "\"dryRun\": true");
    r = RunUpdater(upd, "/UNATTENDED -result=" + result, {});
    ASSERT_FALSE(r.timedOut);
    EXPECT_FALSE(TraceMentions("their-secret"));
    for (const char *link : {"loop1", "loop2", "away"})
        EXPECT_TRUE(TraceHas("\t\t\t\tfd.cFileName = " + std::string(link) + ", --> Link skipped")) << link;
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_TRUE(r.events.empty());
    EXPECT_TRUE(ReadFileBytes(app + "MIRO42.DLL") == ReadFileBytes(upd + "MIRO42.DLL"));
    EXPECT_EQ(ReadFileBytes(app + "RT_IDX.DAT"), DataFileBytes("1.20"));
    EXPECT_EQ(InstalledIds(app), "");
    std::string text = SystemText(ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(TraceMentions("\t\tbox not shown (answer Abort): " + text.substr(0, text.find('\r'))));
    ExpectTail({"\t\tbResult = 0", "\t\t[Copy]<<", "\tbResult = 0", "\t[Update]<<",
                "\t\tbox not shown (answer OK): " + std::string(MessageTable[4]), "", "nResult = 4"});
    EXPECT_EQ(ResultOutcomes(result), (std::vector<std::string>{"done", "failed", "skipped"}));
    EXPECT_EQ(ResultOutcomes(predicted), ResultOutcomes(result));
    ExpectResultHas(result, "\"cause\": {\"folder\": " + JsonQuoted(app) + ", \"command\": 2, \"path\": " +
                                JsonQuoted(app + "nodir\\RT_IDX.DAT") + "}");

    // A program that is not there: the shell fails it without its own box.
    ASSERT_TRUE(WriteFileBytes(upd + "Lumiupd.INF", CrLf({"id=U0305", "target=1.2", "exe=absent.exe"})));
    found = DryRun("", 4);
    EXPECT_TRUE(Has(found, "exe: " + upd + "absent.exe: プログラムがありません (このコマンドは失敗します)"));
    r = RunUpdater(upd, "-unattended", {});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_TRUE(r.events.empty()) << (r.boxes.empty() ? "" : r.boxes[0].text);
    EXPECT_TRUE(TraceHas("\t\t\tShellExecuteEx = 0"));
}

// 5: the application runs (without a window, so there is no wait) and holds
// the library the script replaces. A dry run before it, with the window,
// names the program and does not wait.
TEST_F(FailureCodes, LibraryHeldByTheApplicationIs5)
{
    std::string app = Registered("acc_codes_5");
    {
        // The dry run, with the application's window up: no wait for it,
        // and the program named.
        RunningApp windowed;
        ASSERT_TRUE(windowed.Start(app, 30000)) << windowed.failure();
        std::string before = MachineSnapshot({app, upd});
        DWORD start = GetTickCount();
        std::vector<std::string> found = DryRun("", 5);
        EXPECT_LT(GetTickCount() - start, 10000u) << "the dry run waited for the application";
        EXPECT_TRUE(Has(found, "モジュール: " + app + "MIRO42.DLL: ほかのプログラムが使用中です: " + app +
                                   "Lumitel.exe (プロセス ID " + std::to_string(windowed.pid()) + ")"));
        EXPECT_TRUE(Has(found, "実行中のルミテル: " + app + "Lumitel.exe (プロセス ID " + std::to_string(windowed.pid()) +
                                   "): 実際の更新ではその終了を 15 秒まで待ちます"));
        EXPECT_TRUE(MachineSnapshot({app, upd}) == before) << "the dry run changed the machine";
        windowed.Stop();
    }
    RunningApp running;
    ASSERT_TRUE(running.Start(app, 30000, false)) << running.failure();
    std::string result = ResultPath("result");
    UpdaterRun r = RunUpdater(upd, "-result=" + result, {{IDYES}, {IDOK}});
    ExpectResultHas(result, "\"cause\": {\"file\": " + JsonQuoted(app + "MIRO42.DLL") + ", \"processId\": " +
                                std::to_string(running.pid()) + ", \"program\": " + JsonQuoted(app + "Lumitel.exe") + "}");
    running.Stop();
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 5u);
    ASSERT_EQ(r.boxes.size(), 2u);
    ExpectClosingBox(r.boxes[1], MessageTable[5], 5);
    EXPECT_FALSE(r.progress.seen);
    EXPECT_LT(r.elapsedMs, 10000u) << "no window, so no wait for the application";
    ExpectUntouched(app);
    ExpectTail({"\t[CheckFile]>>", "\t\tpFile->filename = MIRO42.DLL, act = 1, flag = 1", "\t\t\tdwError = 32",
                "\tbResult = 0", "\t[CheckFile]<<", "", "nResult = 5"});
}

// 6: the folder on the command line holds data the script does not accept;
// no question comes first, and discovery is never tried.
TEST_F(FailureCodes, RefusedCommandLineFolderIs6)
{
    Registered("acc_codes_6_registered");
    std::string old = MakeInstalledFolder("acc_codes_6", "0.9");
    ASSERT_FALSE(old.empty());
    for (const char *options : {"", "-auto "}) {
        SCOPED_TRACE(options);
        std::string args = options + ("\"" + old + "\"");
        std::vector<std::string> found = DryRun(args, 6);
        EXPECT_TRUE(Has(found, "対象: " + old + " (データバージョン 0.9: 対象外です)"));
        UpdaterRun r = RunUpdater(upd, args, {});
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 6u);
        ASSERT_EQ(r.boxes.size(), 1u);
        ExpectClosingBox(r.boxes[0], "対象となるルミテルが見つかりません。(6)", 6);
        std::vector<std::string> trace = Head(args, options[0] ? 1 : 0, old);
        Append(&trace, {"", "nResult = 6"});
        ExpectTrace(trace);
        EXPECT_EQ(ReadFileBytes(old + "RT_IDX.DAT"), DataFileBytes("0.9"));
    }
}

// 7: the registered copy lies on a real 1 MiB disk that the update folder
// outweighs: a file that no command names still counts, and pads the folder
// beyond the disk whatever the size of the exe.
TEST_F(FailureCodes, FullDiskIs7)
{
    const std::string disk = "V:\\";
    ULARGE_INTEGER freeBytes = {};
    if (!GetDiskFreeSpaceExA(disk.c_str(), &freeBytes, nullptr, nullptr) || freeBytes.QuadPart > 1048576)
        GTEST_SKIP() << "no 1 MiB disk at V: (mounting a tmpfs was not permitted here)";
    std::string app = disk + "acc_codes_7\\";
    RemoveTree(app);
    ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(app + "RT_IDX.DAT", DataFileBytes("1.20")));
    ASSERT_TRUE(WriteFileBytes(app + "MIRO42.DLL", "old library"));
    ASSERT_TRUE(RegisterInstalled("Lumitel", app));
    ASSERT_TRUE(GetDiskFreeSpaceExA(disk.c_str(), &freeBytes, nullptr, nullptr));
    ASSERT_TRUE(WriteFileBytes(upd + "PADDING.BIN", std::string(1048576, 'P')));
    // The trace's nSize is new less old; the amount compared is the peak:
    // what growing and new files add, plus the largest file held twice.
    long long needed = 0, peak = 0, twice = 0;
    for (const char *name : {"Lumiupd.exe", "Lumiupd.INF", "MIRO42.DLL", "RT_IDX.DAT", "PADDING.BIN"}) {
        long long src = (long long)ReadFileBytes(upd + name).size();
        long long dst = FileExists(app + name) ? (long long)ReadFileBytes(app + name).size() : 0;
        needed += src - dst;
        peak += std::max(src - dst, 0LL);
        twice = std::max(twice, std::min(src, dst));
    }
    peak += twice;
    ASSERT_GT(needed, (long long)freeBytes.QuadPart);

    std::string before = MachineSnapshot({app, upd});
    std::vector<std::string> found = DryRun("", 7);
    EXPECT_TRUE(Has(found, "空き容量: " + app + " (ドライブ V:) 必要 " + std::to_string(peak) + " バイト、空き " +
                               std::to_string(freeBytes.QuadPart) + " バイト: 足りません"));
    EXPECT_TRUE(MachineSnapshot({app, upd}) == before) << "the dry run changed the machine";
    std::string result = ResultPath("result");
    UpdaterRun r = RunUpdater(upd, "-result=" + result, {{IDYES}, {IDOK}});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 7u);
    ExpectResultHas(result, "\"cause\": {\"folder\": " + JsonQuoted(app) + ", \"neededBytes\": " +
                                std::to_string(peak) + ", \"freeBytes\": " + std::to_string(freeBytes.QuadPart) + "}");
    ASSERT_EQ(r.boxes.size(), 2u);
    ExpectClosingBox(r.boxes[1], MessageTable[7], 7);
    EXPECT_FALSE(r.progress.seen);
    EXPECT_EQ(ReadFileBytes(app + "MIRO42.DLL"), "old library");
    EXPECT_EQ(InstalledIds(app), "");
    ExpectTail({"\t\t\tnSize = " + std::to_string(needed), "\t\t\t[getNecessarySpaceDir]<<",
                "\t\t\t dwNecessarySpace = " + std::to_string(peak) +
                    ", dwFreeSpace = " + std::to_string(freeBytes.QuadPart),
                "\t\tubResult = 0", "\t\t[checkSpace]<<", "", "nResult = 7"});
    RemoveTree(app);
}

} // namespace
