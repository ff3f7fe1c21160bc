// Real runs of the updater that meet a fault on the way: each ends with its
// code and closing box, and the installed copy keeps every file except what
// the script changed before the fault.
#include "base/messages.h"
#include "base/tracelog.h"
#include "hardening_util.h"
#include "installed.h"

#include <gtest/gtest.h>

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

RunResult RunUpdate(const std::string &upd, const std::string &app, std::vector<RobotAnswer> answers)
{
    RunOptions options;
    options.answers = std::move(answers);
    return RunProgram(upd + "Lumiupd.exe", "\"" + app + "\"", options);
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

// Three commands that work and three that are asked about, interleaved.
// Abort at the k-th question keeps everything after it from happening.
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
        for (size_t i = 0; i < prompts.size(); i++)
            answers.push_back({i < k ? IDIGNORE : IDABORT});
        answers.push_back({IDOK});
        RunResult r = RunUpdate(upd, app, answers);
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

} // namespace
