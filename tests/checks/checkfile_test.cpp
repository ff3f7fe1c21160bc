// The locked-module check against real files and the real running application.
#include "base/tracelog.h"
#include "checks/checkfile.h"
#include "installed.h"
#include "runningapp.h"
#include "testlists.h"
#include "testutil.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> kEmptyCheck = {"\t[CheckFile]>>", "\tbResult = 1", "\t[CheckFile]<<"};

std::string EntryLine(const std::string &name, int act, int flag)
{
    return "\t\tpFile->filename = " + name + ", act = " + std::to_string(act) +
           ", flag = " + std::to_string(flag);
}

int RunCheck(StringList &dsts, CommandList &commands)
{
    TraceLogStart();
    return CheckFile(dsts.get(), commands.get());
}

// One command and the trace line that ends its examination.
struct Entry {
    std::string name;
    int act;
    int flag;
    std::string outcome;
};

// Checks one destination with entries that all pass, and the whole trace.
void ExpectAllPass(const std::string &dir, const std::vector<Entry> &entries)
{
    CommandList commands;
    std::vector<std::string> expected = {"\t[CheckFile]>>"};
    for (const auto &e : entries) {
        commands.Add(e.name, e.act);
        expected.push_back(EntryLine(e.name, e.act, e.flag));
        expected.push_back(e.outcome);
    }
    expected.push_back("\tbResult = 1");
    expected.push_back("\t[CheckFile]<<");
    StringList dsts({dir});
    EXPECT_EQ(RunCheck(dsts, commands), 1);
    EXPECT_EQ(TraceLines(), expected);
}

const char kNotModule[] = "\t\t\tNot Module";
const char kNotExist[] = "\t\t\tNot Exist.";

TEST(CheckFile, EmptyListsPassTracingOnlyTheFrame)
{
    CommandList commands;
    commands.Add("MIRO42.DLL", ACT_COPY);
    StringList none;
    EXPECT_EQ(RunCheck(none, commands), 1);
    EXPECT_EQ(TraceLines(), kEmptyCheck);

    CommandList noCommands;
    StringList one({"C:\\"});
    EXPECT_EQ(RunCheck(one, noCommands), 1);
    EXPECT_EQ(TraceLines(), kEmptyCheck);
}

TEST(CheckFile, EntriesThatAreNoCopiedModuleAreNotProbed)
{
    std::string dir = MakeInstalledFolder("checkfile_notmodule", "1.00");
    ASSERT_FALSE(dir.empty());
    RunningApp app;
    // The held library is named only by commands that do not copy it.
    ASSERT_TRUE(app.Start(dir, 60000, false)) << app.failure();
    ExpectAllPass(dir, {{"MIRO42.DLL.bak", ACT_COPY, 0, kNotModule},
                        {"prog.ocx", ACT_COPY, 0, kNotModule},
                        {"bin.exe\\prog", ACT_COPY, 0, kNotModule},
                        {"MIRO42.DLL", ACT_REMOVE, 1, kNotModule},
                        {"Lumitel.exe", ACT_REMOVE, 1, kNotModule},
                        {"Lumitel.exe", ACT_EXE, 1, kNotModule}});
}

// What the platform itself says to a write open of path: "OK!" or "Not Exist.".
std::string PlainOpenLine(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        EXPECT_NE(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
        return kNotExist;
    }
    CloseHandle(file);
    return "\t\t\tOK!";
}

TEST(CheckFile, NewWritableReadOnlyAndUnwritableModulesPass)
{
    std::string dir = MakeInstalledFolder("checkfile_pass", "1.00");
    ASSERT_FALSE(dir.empty());
    CreateDirectoryA((dir + "bin").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(dir + "bin\\ro.exe", "MZ"));
    ASSERT_TRUE(SetFileAttributesA((dir + "bin\\ro.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    // Windows refuses the read-only file (access denied); Wine run by root
    // opens it. Either way it is no sharing conflict.
    std::string readOnly = PlainOpenLine(dir + "bin\\ro.exe");
    // A folder under a module's name: access denied everywhere.
    ASSERT_TRUE(CreateDirectoryA((dir + "plugin.dll").c_str(), nullptr));
    ExpectAllPass(dir, {{"NEW.DLL", ACT_COPY, 1, kNotExist},
                        {"MIRO42.DLL", ACT_COPY, 1, "\t\t\tOK!"},
                        {"bin/ro.exe", ACT_COPY, 1, readOnly},
                        {"plugin.dll", ACT_COPY, 1, kNotExist},
                        {"nofolder\\x.dll", ACT_COPY, 1, kNotExist}});
    // Nothing was changed by the probe.
    EXPECT_EQ(ReadFileBytes(dir + "bin\\ro.exe"), "MZ");
    EXPECT_FALSE(FileExists(dir + "NEW.DLL"));
    SetFileAttributesA((dir + "bin\\ro.exe").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(CheckFile, HeldModuleFailsAtOnceInTheSecondDestination)
{
    std::string free1 = MakeInstalledFolder("checkfile_free", "1.00");
    std::string held = MakeInstalledFolder("checkfile_held", "1.00");
    ASSERT_FALSE(free1.empty());
    ASSERT_FALSE(held.empty());
    RunningApp app;
    ASSERT_TRUE(app.Start(held, 60000, false)) << app.failure();
    CommandList commands;
    commands.Add("readme.txt", ACT_COPY);
    commands.Add("MIRO42.DLL", ACT_COPY);
    commands.Add("other.dll", ACT_COPY);
    StringList dsts({free1, held, free1});
    DWORD start = GetTickCount();
    EXPECT_EQ(RunCheck(dsts, commands), 0);
    EXPECT_LT(GetTickCount() - start, 5000u) << "no window, so no wait";
    EXPECT_EQ(TraceLines(), std::vector<std::string>({
                                "\t[CheckFile]>>",
                                EntryLine("readme.txt", 1, 0), "\t\t\tNot Module",
                                EntryLine("MIRO42.DLL", 1, 1), "\t\t\tOK!",
                                EntryLine("other.dll", 1, 1), "\t\t\tNot Exist.",
                                EntryLine("readme.txt", 1, 0), "\t\t\tNot Module",
                                EntryLine("MIRO42.DLL", 1, 1), "\t\t\tdwError = 32",
                                "\tbResult = 0",
                                "\t[CheckFile]<<",
                            }));
}

TEST(CheckFile, WaitsForTheApplicationAndGoesOnWhenItEnds)
{
    std::string dir = MakeInstalledFolder("checkfile_wait", "1.00");
    ASSERT_FALSE(dir.empty());
    RunningApp app;
    ASSERT_TRUE(app.Start(dir, 2000)) << app.failure();
    ASSERT_TRUE(app.window());
    std::string pid = std::to_string(app.pid());
    CommandList commands;
    commands.Add("MIRO42.DLL", ACT_COPY);
    commands.Add("Lumitel.exe", ACT_COPY);
    StringList dsts({dir});
    DWORD start = GetTickCount();
    EXPECT_EQ(RunCheck(dsts, commands), 1);
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 10000u) << "the wait must end when the application does";
    // The window is gone by the second module: no second wait.
    EXPECT_EQ(TraceLines(), std::vector<std::string>({
                                "\t[CheckFile]>>",
                                EntryLine("MIRO42.DLL", 1, 1),
                                "\t\t\t\"LumitelShadowWindowClass\" is running",
                                "\t\t\tProcessId = " + pid + " ",
                                "\t\t\t\tWaitForSingleObject(hProcess, 15000 ) = 0",
                                "\t\t\tOK!",
                                EntryLine("Lumitel.exe", 1, 1), "\t\t\tOK!",
                                "\tbResult = 1",
                                "\t[CheckFile]<<",
                            }));
}

} // namespace
