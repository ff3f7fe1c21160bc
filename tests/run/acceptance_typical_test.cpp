// The typical run of docs/examples/typical.INF on one registered copy, and
// the same update unattended, without the progress dialog, and declined.
#include "acceptance_support.h"

#include "base/messages.h"
#include "exec_testutil.h"
#include "installed.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace {

const char kQuestion[] = "ルミテルを更新します。\nよろしいですか？";

class TypicalRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
        app = MakeInstalledFolder("acc_typical_app", "1.10");
        ASSERT_FALSE(app.empty());
        // The settings file holds more than the installed list.
        ASSERT_TRUE(WriteFileBytes(app + "MIRO42.INI", "[MAIN]\r\nINSTALLED=U0100\r\nFONT=12\r\n[VIEW]\r\nZOOM=2\r\n"));
        oldLibrary = ReadFileBytes(app + "MIRO42.DLL");
        // Registered without the trailing backslash, as an installer may.
        ASSERT_TRUE(RegisterInstalled("Lumitel", app.substr(0, app.size() - 1)));
        upd = MakeTypicalUpdate("acc_typical_upd");
    }
    void TearDown() override
    {
        KeepTraceIfFailed();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
    }

    // Both copies made, each with the source's last-write time as its
    // creation and last-write time; the id added to the installed list.
    void ExpectUpdated()
    {
        ExpectTypicalUpdate(app, upd, "U0100,U0301");
        EXPECT_EQ(ReadFileBytes(app + "MIRO42.INI"),
                  "[MAIN]\r\nINSTALLED=U0100,U0301\r\nFONT=12\r\n[VIEW]\r\nZOOM=2\r\n");
        EXPECT_EQ(ListFolder(app), (std::vector<std::string>{"MIRO42.DLL", "MIRO42.INI", "RT_IDX.DAT"}));
    }
    void ExpectUntouched()
    {
        EXPECT_TRUE(ReadFileBytes(app + "MIRO42.DLL") == oldLibrary);
        EXPECT_EQ(ReadFileBytes(app + "RT_IDX.DAT"), DataFileBytes("1.10"));
        EXPECT_EQ(InstalledIds(app), "U0100");
        EXPECT_EQ(ListFolder(app), (std::vector<std::string>{"MIRO42.DLL", "MIRO42.INI", "RT_IDX.DAT"}));
    }
    // The disk space check's lines, as the folders stand before the run: the
    // walk's order is the file system's, so the entries are looked up.
    std::vector<std::string> SpaceTrace()
    {
        long long total = 0, adds = 0, twice = 0;
        std::vector<std::string> entries;
        for (const char *name : {"Lumiupd.exe", "Lumiupd.INF", "MIRO42.DLL", "RT_IDX.DAT"}) {
            long long src = (long long)ReadFileBytes(upd + name).size();
            long long dst = FileExists(app + name) ? (long long)ReadFileBytes(app + name).size() : 0;
            entries.push_back("\t\t\t\tfd.cFileName = " + std::string(name) + ", --> nSrc = " + std::to_string(src) +
                              ", nDst = " + std::to_string(dst) + ", uSize( {*} --> {*} )");
            total += src - dst;
            adds += std::max(src - dst, 0LL);
            twice = std::max(twice, std::min(src, dst));
        }
        spaceEntries = entries;
        return {"\t\t[checkSpace]>>",
                "\t\t\t[getNecessarySpaceDir]>>",
                "\t\t\tpszSrcPath\t\t= " + upd,
                "\t\t\tpszDstPath\t\t= " + app,
                "\t\t\t\tfd.cFileName = {*}",
                "\t\t\t\tfd.cFileName = {*}",
                "\t\t\t\tfd.cFileName = {*}",
                "\t\t\t\tfd.cFileName = {*}",
                "\t\t\tnSize = " + std::to_string(total),
                "\t\t\t[getNecessarySpaceDir]<<",
                "\t\t\t dwNecessarySpace = " + std::to_string(adds + twice) + ", dwFreeSpace = {*}",
                "\t\tubResult = 1",
                "\t\t[checkSpace]<<"};
    }
    // Each walked file once, whatever the order.
    void ExpectSpaceEntries()
    {
        std::vector<std::string> part = TraceBetween("\t\t\t[getNecessarySpaceDir]>>", "\t\t\t[getNecessarySpaceDir]<<");
        ASSERT_EQ(part.size(), 9u);
        for (const std::string &entry : spaceEntries) {
            int found = 0;
            for (size_t i = 3; i < 7; i++)
                found += TraceLineMatches(entry, part[i]);
            EXPECT_EQ(found, 1) << entry;
        }
    }

    std::string app, upd, oldLibrary;
    std::vector<std::string> spaceEntries;
};

// The example result file of the guide: the indented block that opens with
// "{" and "exitCode", without its indent.
std::string GuideResultExample()
{
    std::string guide = ReadFileBytes(SourceFile("docs/guide.md"));
    size_t at = guide.find("\n    {\n      \"exitCode\"");
    size_t end = guide.find("\n    }\n", at);
    if (at == std::string::npos || end == std::string::npos)
        return "(no example in the guide)";
    std::string block;
    for (size_t line = at + 1; line <= end + 1; line = guide.find('\n', line) + 1)
        block += guide.substr(line + 4, guide.find('\n', line) + 1 - (line + 4));
    return block;
}

// The trace's head up to the end of discovery, for a run without arguments.
std::vector<std::string> DiscoveryTrace(const std::string &args, int flag, const std::string &app)
{
    return {TraceLogPath(),
            "param=[" + args + "]",
            "\tcl.flag\t= " + std::to_string(flag),
            "\tcl.dst\t\t= ",
            "\t[GetDstPath]>>",
            "\t\t RegOpenKeyEx() == ERROR_SUCCESS",
            "\t\t\t dwIndex = 0",
            "\t\t\t RegEnumKeyEx == ERROR_SUCCESS",
            "\t\t\t RegOpenKeyEx == ERROR_SUCCESS",
            "\t\t\t RegQueryValueEx == ERROR_SUCCESS",
            "\t\t\t szPath = " + app.substr(0, app.size() - 1),
            "\t\t\t\t szPath is Targets",
            "\t\t\t dwIndex = 1",
            "\t[GetDstPath]<<"};
}

// The run as a user meets it: the question, the progress dialog with each
// command's paths, then the closing box; the copy updated and registered;
// the trace of every step, line by line. Asked for a result file, which
// changes nothing else: the guide's example is this run's.
TEST_F(TypicalRun, AnsweredYes)
{
    std::string result = MakeTestDir("acc_typical_result") + "result.json";
    std::vector<std::string> trace = DiscoveryTrace("-result=" + result, 0, app);
    Append(&trace, {"\t[CheckFile]>>", "\t\tpFile->filename = MIRO42.DLL, act = 1, flag = 1", "\t\t\tOK!",
                    "\t\tpFile->filename = RT_IDX.DAT, act = 1, flag = 0", "\t\t\tNot Module", "\tbResult = 1",
                    "\t[CheckFile]<<"});
    Append(&trace, SpaceTrace());
    trace.push_back("\t[Update]>>");
    Append(&trace, CopyTrace(upd + "MIRO42.DLL", app + "MIRO42.DLL", "2024/03/01-09:30:15", true));
    Append(&trace, CopyTrace(upd + "RT_IDX.DAT", app + "RT_IDX.DAT", "2024/02/29-23:59:58", true));
    Append(&trace, {"\tbResult = 1", "\t[Update]<<", "", "nResult = 0"});

    UpdaterRun r = RunUpdater(upd, "-result=" + result, {{IDYES}, {IDOK}});
    ExpectSucceeded(r, kQuestion, MessageTable[0]);
    EXPECT_EQ(r.events, (std::vector<std::string>{"box", "progress", "box"}));
    unsigned long ms = 0, shown = 0;
    std::string json = ResultTimeAsN(ReadFileBytes(result), &ms);
    std::string folder = JsonQuoted(app);
    if (json.find(folder) != std::string::npos)
        json.replace(json.find(folder), folder.size(), "\"C:\\\\Program Files\\\\Lumitel\\\\\"");
    EXPECT_EQ(json, ResultTimeAsN(GuideResultExample(), &shown));
    EXPECT_GE(ms, 400ul) << "two commands, each followed by a pause";
    EXPECT_LE(ms, r.elapsedMs + 100);
    ASSERT_EQ(r.progressAtBox.size(), 2u);
    EXPECT_EQ(r.progressAtBox[1].caption, "") << "the dialog closes before the closing box";
    EXPECT_EQ(r.progress.caption, "処理中です...");
    EXPECT_EQ(r.progress.paths, (std::vector<std::pair<std::string, std::string>>{
                                    {upd + "MIRO42.DLL", app + "MIRO42.DLL"},
                                    {upd + "RT_IDX.DAT", app + "RT_IDX.DAT"}}));
    ExpectUpdated();
    ExpectTrace(trace);
    ExpectSpaceEntries();
}

// No: no closing box, nothing checked or changed, -1 as the exit code.
TEST_F(TypicalRun, AnsweredNo)
{
    std::vector<std::string> trace = DiscoveryTrace("", 0, app);
    Append(&trace, {"", "nResult = -1"});
    UpdaterRun r = RunUpdater(upd, "", {{IDNO}});
    ExpectDeclined(r, kQuestion);
    ExpectUntouched();
    ExpectTrace(trace);
    EXPECT_FALSE(TraceMentions("[CheckFile]>>"));
}

// Unattended: no question and no closing box, the same update.
TEST_F(TypicalRun, AutoSucceedsWithoutABox)
{
    UpdaterRun r = RunUpdater(upd, "-auto", {});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty()) << r.boxes[0].text;
    EXPECT_EQ(r.events, (std::vector<std::string>{"progress"}));
    EXPECT_EQ(r.progress.paths.size(), 2u);
    ExpectUpdated();
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], "\tcl.flag\t= 1");
    EXPECT_EQ(lines.back(), "nResult = 0");
}

// Silent: the question and the closing box, but never the progress dialog.
TEST_F(TypicalRun, SilentShowsNoProgressDialog)
{
    UpdaterRun r = RunUpdater(upd, "/silent", {{IDYES}, {IDOK}});
    ExpectSucceeded(r, kQuestion, MessageTable[0]);
    EXPECT_EQ(r.events, (std::vector<std::string>{"box", "box"}));
    ExpectUpdated();
    EXPECT_TRUE(TraceHas("\tcl.flag\t= 2"));
}

// Both: nothing at all on the screen, and still the pause after each command.
TEST_F(TypicalRun, SilentAndAutoTogether)
{
    std::vector<std::string> script = {"id=U0301", "kakunin=ルミテルを更新します。", "target=1.1",
                                       "copy=MIRO42.DLL", "copy=RT_IDX.DAT"};
    for (int i = 1; i <= 8; i++)
        script.push_back("create=data" + std::to_string(i));
    WriteFileBytes(upd + "Lumiupd.INF", CrLf(script));
    UpdaterRun r = RunUpdater(upd, "-silent -auto", {});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.events.empty());
    EXPECT_TRUE(ReadFileBytes(app + "MIRO42.DLL") == ReadFileBytes(upd + "MIRO42.DLL"));
    EXPECT_TRUE(FileExists(app + "data8"));
    EXPECT_EQ(InstalledIds(app), "U0100,U0301");
    EXPECT_TRUE(TraceHas("\tcl.flag\t= 3"));
    EXPECT_GE(r.elapsedMs, 10u * 200u) << "ten commands, each followed by a pause of 200 ms";
}

} // namespace
