// Where typical.INF is carried out: two registered copies of which the first
// fails, and destinations given (or not) on the command line.
#include "acceptance_support.h"

#include "base/messages.h"
#include "exec_testutil.h"
#include "installed.h"

#include <gtest/gtest.h>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

class Destinations : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
        upd = MakeTypicalUpdate("acc_dest_upd");
    }
    void TearDown() override
    {
        KeepTraceIfFailed();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
    }
    // An installed copy with the version the script accepts, registered
    // under subkey unless that is empty.
    std::string Copy(const std::string &name, const std::string &subkey)
    {
        std::string dir = MakeInstalledFolder(name, "1.20");
        EXPECT_FALSE(dir.empty());
        if (!subkey.empty()) {
            EXPECT_TRUE(RegisterInstalled(subkey, dir));
        }
        return dir;
    }
    void ExpectUntouched(const std::string &dir)
    {
        EXPECT_EQ(ReadFileBytes(dir + "MIRO42.DLL"), ReadFileBytes(BinDir() + "MIRO42_fixture.dll"));
        EXPECT_EQ(ReadFileBytes(dir + "RT_IDX.DAT"), DataFileBytes("1.20"));
        EXPECT_EQ(InstalledIds(dir), "");
    }
    std::string upd;
};

// The first copy lacks the folder of the second command's file: that copy
// is asked about and aborted, the command before it stays done, the one
// after it is skipped and the id is not registered there; the second copy
// is updated all the same, but the run reports the failure (code 4) and does
// not start the post program.
TEST_F(Destinations, TwoRegisteredCopiesTheFirstFailing)
{
    ASSERT_TRUE(WriteFileBytes(upd + "Lumiupd.INF", CrLf({"id=U0301", "kakunin=ルミテルを更新します。", "target=1.2",
                                                         "copy=MIRO42.DLL", "copy=data\\NEW.DAT",
                                                         "copy=RT_IDX.DAT", "post=%PROGRAM_FILES%LumiPost\\POST.EXE"})));
    ASSERT_TRUE(CreateDirectoryA((upd + "data").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(upd + "data\\NEW.DAT", "new data"));
    ASSERT_TRUE(SetWriteTime(upd + "data\\NEW.DAT", MakeFileTime(2024, 3, 2, 10, 0, 0)));
    std::string first = Copy("acc_dest_first", "A_first");
    std::string second = Copy("acc_dest_second", "B_second");
    ASSERT_TRUE(CreateDirectoryA((second + "data").c_str(), nullptr));
    UpdaterRun r = RunUpdater(upd, "", {{IDYES}, {IDABORT}, {IDOK}});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 4u);
    ASSERT_EQ(r.boxes.size(), 3u);
    EXPECT_EQ(r.boxes[1].text, SystemText(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(r.boxes[1].icon, ICON_WARNING);
    ExpectClosingBox(r.boxes[2], MessageTable[4], 4);
    EXPECT_EQ(r.events, (std::vector<std::string>{"box", "progress", "box", "box"}));
    // Three commands in each of two copies; one done.
    ASSERT_EQ(r.progressAtBox.size(), 3u);
    ExpectProgress(r.progressAtBox[1], upd + "data\\NEW.DAT", first + "data\\NEW.DAT", 1, 6);
    EXPECT_EQ(r.progress.paths, (Pairs{{upd + "MIRO42.DLL", first + "MIRO42.DLL"},
                                       {upd + "data\\NEW.DAT", first + "data\\NEW.DAT"},
                                       {upd + "MIRO42.DLL", second + "MIRO42.DLL"},
                                       {upd + "data\\NEW.DAT", second + "data\\NEW.DAT"},
                                       {upd + "RT_IDX.DAT", second + "RT_IDX.DAT"}}));
    EXPECT_TRUE(ReadFileBytes(first + "MIRO42.DLL") == ReadFileBytes(upd + "MIRO42.DLL"));
    EXPECT_EQ(ReadFileBytes(first + "RT_IDX.DAT"), DataFileBytes("1.20"));
    EXPECT_EQ(InstalledIds(first), "");
    ExpectTypicalUpdate(second, upd, "U0301");
    EXPECT_EQ(ReadFileBytes(second + "data\\NEW.DAT"), "new data");

    EXPECT_TRUE(TraceHas("\t\t\t szPath = " + first));
    EXPECT_TRUE(TraceHas("\t\t\t szPath = " + second));
    EXPECT_TRUE(TraceHas("\t\t\t dwIndex = 2"));
    // The handlers' entry, paths, result and exit, in order. The failed
    // deletion of a missing file leaves a blank that starts the next line.
    std::vector<std::string> handlers;
    for (const std::string &line : TraceBetween("\t[Update]>>", "\t[Update]<<")) {
        std::string text = line.compare(0, 1, " ") == 0 ? line.substr(1) : line;
        if (text.compare(0, 3, "\t\t[") == 0 || text.compare(0, 11, "\t\tbResult =") == 0 ||
            text.compare(0, 6, "\t\t\tsrc") == 0 || text.compare(0, 6, "\t\t\tdst") == 0)
            handlers.push_back(line);
    }
    std::vector<std::string> expected;
    for (const std::string &dst : {first, second}) {
        for (const char *name : {"MIRO42.DLL", "data\\NEW.DAT", "RT_IDX.DAT"}) {
            bool fails = dst == first && std::string(name) == "data\\NEW.DAT";
            Append(&expected, {"\t\t[Copy]>>", "\t\t\tsrc = " + upd + name, "\t\t\tdst = " + dst + name,
                               fails ? " \t\tbResult = 0" : "\t\tbResult = 1", "\t\t[Copy]<<"});
            if (fails)
                break;
        }
    }
    ExpectLines(handlers, expected);
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 4u);
    ExpectLines(std::vector<std::string>(lines.end() - 4, lines.end()),
                {"\tbResult = 0", "\t[Update]<<", "", "nResult = 4"});
    // The post program is not even tried (it would be, missing or not).
    EXPECT_FALSE(TraceMentions("StartProcess"));
}

// Both options, either prefix, any letter case: nothing on the screen.
TEST_F(Destinations, SlashSilentDashAuto)
{
    std::string app = Copy("acc_dest_registered", "Lumitel");
    UpdaterRun r = RunUpdater(upd, "/SILENT -Auto", {});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.events.empty());
    ExpectTypicalUpdate(app, upd, "U0301");
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 5u);
    ExpectLines(std::vector<std::string>(lines.begin() + 1, lines.begin() + 5),
                {"param=[/SILENT -Auto]", "\tcl.flag\t= 3", "\tcl.dst\t\t= ", "\t[GetDstPath]>>"});
}

// A quoted folder with spaces is the one destination: the registered copy
// is neither searched nor touched.
TEST_F(Destinations, QuotedFolderWithSpaces)
{
    std::string registered = Copy("acc_dest_registered", "Lumitel");
    std::string named = Copy("acc dest with spaces", "");
    std::string quoted = "\"" + named.substr(0, named.size() - 1) + "\"";
    UpdaterRun r = RunUpdater(upd, quoted, {{IDYES}, {IDOK}});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 2u);
    ExpectClosingBox(r.boxes[1], MessageTable[0], 0);
    EXPECT_EQ(r.progress.paths, (Pairs{{upd + "MIRO42.DLL", named + "MIRO42.DLL"},
                                       {upd + "RT_IDX.DAT", named + "RT_IDX.DAT"}}));
    ExpectTypicalUpdate(named, upd, "U0301");
    ExpectUntouched(registered);
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 5u);
    ExpectLines(std::vector<std::string>(lines.begin() + 1, lines.begin() + 5),
                {"param=[" + quoted + "]", "\tcl.flag\t= 0", "\tcl.dst\t\t= " + named, "\t[CheckFile]>>"});
    EXPECT_FALSE(TraceMentions("[GetDstPath]"));
}

// A folder followed by an empty quoted token: the empty one wins, so the
// registered copies are searched and the named folder is left alone.
TEST_F(Destinations, FolderThenEmptyQuotedToken)
{
    std::string registered = Copy("acc_dest_registered", "Lumitel");
    std::string named = Copy("acc_dest_named", "");
    std::string args = named.substr(0, named.size() - 1) + " \"\"";
    UpdaterRun r = RunUpdater(upd, args, {{IDYES}, {IDOK}});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 2u);
    ExpectClosingBox(r.boxes[1], MessageTable[0], 0);
    ExpectTypicalUpdate(registered, upd, "U0301");
    ExpectUntouched(named);
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 5u);
    ExpectLines(std::vector<std::string>(lines.begin() + 1, lines.begin() + 5),
                {"param=[" + args + "]", "\tcl.flag\t= 0", "\tcl.dst\t\t= ", "\t[GetDstPath]>>"});
}

} // namespace
