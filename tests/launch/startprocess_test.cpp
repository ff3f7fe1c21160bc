// The post-update launch with a stand-in shell: a real process whose window
// is registered as the shell window, and the recorder as the program.
#include "base/tracelog.h"
#include "launch/startprocess.h"
#include "shellfixture.h"
#include "testutil.h"

#include <stdint.h>
#include <stdio.h>

#include <gtest/gtest.h>

namespace {

// A handle as the runtime's "%p" writes it: eight upper-case hex digits.
std::string Hex(const void *p)
{
    char text[32];
    snprintf(text, sizeof(text), "%08lX", (unsigned long)(uintptr_t)p);
    return text;
}

// The handle a trace line ends with ("... succeeded. [h]").
std::string TrailingHandle(const std::string &line)
{
    size_t open = line.rfind('[');
    return open == std::string::npos ? "" : line.substr(open + 1, line.size() - open - 2);
}

// A copy of the recorder at folder + name; its record is beside it.
struct Program {
    std::string folder, exe, record;
};

Program PlaceRecorder(const std::string &folder, const std::string &name = "recorder")
{
    CreateDirectoryA(folder.c_str(), nullptr);
    Program p{folder, folder + "\\" + name + ".exe", folder + "\\" + name + ".txt"};
    if (folder.back() == '\\') {
        p.exe = folder + name + ".exe";
        p.record = folder + name + ".txt";
    }
    DeleteFileA(p.record.c_str());
    EXPECT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), p.exe.c_str(), FALSE)) << p.exe;
    return p;
}

std::vector<std::string> RecordLines(const Program &p)
{
    return ::RecordLines(p.record);
}

TEST(StartProcess, WithoutAShellWindowNothingElseIsTried)
{
    ASSERT_EQ(GetShellWindow(), nullptr) << "a shell window is left from elsewhere";
    std::string dir = MakeTestDir("launch_noshell");
    Program p = PlaceRecorder(dir + "with space");
    TraceLogStart();
    EXPECT_EQ(StartProcess(p.exe.c_str()), START_NO_SHELL);
    std::vector<std::string> expected = {"StartProcess(\"" + p.exe + "\")", "\tGetShellWindow() failed."};
    EXPECT_EQ(TraceLines(), expected);
    Sleep(300);
    EXPECT_FALSE(FileExists(p.record));
}

TEST(StartProcess, StartsTheProgramQuotedInItsOwnFolder)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    std::string dir = MakeTestDir("launch_start");
    Program p = PlaceRecorder(dir + "with space");
    TraceLogStart();
    ASSERT_EQ(StartProcess(p.exe.c_str()), START_OK);
    std::vector<std::string> record = RecordLines(p);
    ASSERT_EQ(record.size(), 2u) << "the program did not run";
    EXPECT_EQ(record[0], "\"" + p.exe + "\"");
    EXPECT_EQ(record[1], p.folder);

    std::vector<std::string> lines = TraceLines();
    ASSERT_EQ(lines.size(), 9u);
    std::string window = Hex(GetShellWindow());
    std::string pid = std::to_string(shell.Pid());
    EXPECT_EQ(lines[0], "StartProcess(\"" + p.exe + "\")");
    EXPECT_EQ(lines[1], "\tGetShellWindow() succeeded. [" + window + "]");
    EXPECT_EQ(lines[2], "\tGetWindowThreadProcessId(" + window + ")");
    EXPECT_EQ(lines[3], "\tPID = " + pid);
    std::string process = TrailingHandle(lines[4]);
    EXPECT_EQ(lines[4], "\tOpenProcess(PROCESS_QUERY_INFORMATION, FALSE, " + pid + ") succeeded. [" + process + "]");
    std::string token = TrailingHandle(lines[5]);
    EXPECT_EQ(lines[5], "\tOpenProcessToken(" + process + ", TOKEN_DUPLICATE) succeeded. [" + token + "]");
    std::string primary = TrailingHandle(lines[6]);
    EXPECT_EQ(lines[6], "\tDuplicateTokenEx(" + token +
                            ", TOKEN_QUERY|TOKEN_ASSIGN_PRIMARY|TOKEN_DUPLICATE|TOKEN_ADJUST_DEFAULT|"
                            "TOKEN_ADJUST_SESSIONID, NULL, SecurityImpersonation, TokenPrimary) succeeded. [" +
                            primary + "]");
    EXPECT_EQ(lines[7], "\tCreateProcessWithTokenW(" + primary + ", 0, NULL, \"\"" + p.exe + "\"\", 0, NULL, \"" +
                            p.folder + "\") succeeded.");
    EXPECT_EQ(lines[8], "StartProcess() succeeded.");
}

TEST(StartProcess, WorkingFolderAndQuotingRules)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    std::string dir = MakeTestDir("launch_rules");
    // No space: the command line is the path as it is.
    Program plain = PlaceRecorder(dir + "plain");
    EXPECT_EQ(StartProcess(plain.exe.c_str()), START_OK);
    std::vector<std::string> record = RecordLines(plain);
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[0], plain.exe);
    EXPECT_EQ(record[1], plain.folder);

    // A root keeps its backslash.
    Program root = PlaceRecorder("C:\\", "lumi_launch_rec");
    EXPECT_EQ(StartProcess(root.exe.c_str()), START_OK);
    record = RecordLines(root);
    DeleteFileA(root.exe.c_str());
    DeleteFileA(root.record.c_str());
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[1], "C:\\");

    // A path near the limit is quoted all the same (the shell's helper gives up
    // there). Wine quotes an unquoted program path itself when it starts it, so
    // the command line handed over is read from the trace.
    std::string deep = dir + "with space\\" + std::string(258 - dir.size() - 11 - 13, 'd');
    CreateDirectoryA((dir + "with space").c_str(), nullptr);
    Program longOne = PlaceRecorder(deep);
    ASSERT_EQ(longOne.exe.size(), 258u);
    TraceLogStart();
    EXPECT_EQ(StartProcess(longOne.exe.c_str()), START_OK);
    std::vector<std::string> lines = TraceLines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_NE(lines[7].find(", 0, NULL, \"\"" + longOne.exe + "\"\", 0, NULL, \"" + longOne.folder + "\") "),
              std::string::npos)
        << lines[7];
    record = RecordLines(longOne);
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[0], "\"" + longOne.exe + "\"");
    EXPECT_EQ(record[1], longOne.folder);
}

TEST(StartProcess, CommandWithArgumentsNamesNoProgram)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    std::string dir = MakeTestDir("launch_args");
    Program p = PlaceRecorder(dir + "with space");
    std::string command = p.exe + " now";
    TraceLogStart();
    EXPECT_EQ(StartProcess(command.c_str()), START_CREATE_FAILED);
    std::vector<std::string> lines = TraceLines();
    ASSERT_EQ(lines.size(), 8u);
    std::string prefix = "\tCreateProcessWithTokenW(" + TrailingHandle(lines[6]) + ", 0, NULL, \"\"" + command +
                         "\"\", 0, NULL, \"" + p.folder + "\") failed. [";
    EXPECT_EQ(lines[7].substr(0, prefix.size()), prefix) << lines[7];
    Sleep(300);
    EXPECT_FALSE(FileExists(p.record));
}

TEST(StartProcess, BareNameHasAnEmptyWorkingFolder)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    TraceLogStart();
    StartProcess("lumi_no_such_program.exe");
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[7].find("\"lumi_no_such_program.exe\", 0, NULL, \"\") "), lines[7].find("\"lumi")) << lines[7];
}

// Open handles of this process, counted by asking after every handle value
// (the system's own count is not kept by Wine).
int OpenHandleCount()
{
    int count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags;
        if (GetHandleInformation((HANDLE)value, &flags))
            count++;
    }
    return count;
}

// The program is started, not waited for, and no handle outlives the call.
TEST(StartProcess, DoesNotWaitAndClosesEveryHandle)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    std::string dir = MakeTestDir("launch_nowait");
    Program p = PlaceRecorder(dir + "held");
    std::string hold = p.folder + "\\recorder.wait";
    WriteFileBytes(hold, "");
    int before = OpenHandleCount();
    ASSERT_GT(before, 0);
    EXPECT_EQ(StartProcess(p.exe.c_str()), START_OK);
    EXPECT_EQ(StartProcess((p.exe + " x").c_str()), START_CREATE_FAILED);
    EXPECT_EQ(OpenHandleCount(), before);
    Sleep(300);
    EXPECT_FALSE(FileExists(p.record)) << "the program did not wait for its hold";
    DeleteFileA(hold.c_str());
    EXPECT_EQ(RecordLines(p).size(), 2u);
}

} // namespace
