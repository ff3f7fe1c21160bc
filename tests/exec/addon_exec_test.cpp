// The "exe" command starting a real program built with the tests.
#include "base/tracelog.h"
#include "exec/addon.h"
#include "selfrobot.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

// A copy of the recorder in a fresh folder (its record lands beside it).
struct Program {
    std::string dir;
    std::string exe;
    std::string RecordPath() const { return dir + "recorder.txt"; }
    std::string Record() const { return ReadFileBytes(RecordPath()); }
};

Program MakeProgram(const std::string &name, const std::string &subdir = "")
{
    Program p;
    p.dir = MakeTestDir(name);
    if (!subdir.empty()) {
        p.dir += subdir + "\\";
        CreateDirectoryA(p.dir.c_str(), nullptr);
    }
    p.exe = p.dir + "recorder.exe";
    EXPECT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), p.exe.c_str(), FALSE));
    return p;
}

std::string FirstLine(const std::string &text)
{
    return text.substr(0, text.find("\r\n"));
}

// Exec under the robot, so that a box from the shell can never hang the test.
int RunExec(const std::string &command, const std::string &dst, const char *params)
{
    int result = -1;
    std::vector<DialogRecord> boxes =
        BoxesDuring([&] { result = Exec(command.c_str(), dst.c_str(), params, nullptr); });
    EXPECT_TRUE(boxes.empty()) << boxes[0].text;
    return result;
}

std::string ShortPath(const std::string &path)
{
    char buf[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), buf, MAX_PATH);
    return buf;
}

TEST(Exec, WaitsForTheProgramAndJudgesItsExitCode)
{
    Program p = MakeProgram("exec_code");
    DWORD start = GetTickCount();
    EXPECT_EQ(RunExec(p.exe, p.dir, "sleep:700 code:0"), 1);
    EXPECT_GE(GetTickCount() - start, 600u) << "did not wait for the program";
    std::string record = p.Record();
    ASSERT_FALSE(record.empty()) << "the program had not ended when Exec returned";
    EXPECT_NE(FirstLine(record).find("sleep:700 code:0"), std::string::npos) << record;

    for (int code : {2, -1}) {
        DeleteFileA(p.RecordPath().c_str());
        std::string params = "code:" + std::to_string(code);
        EXPECT_EQ(RunExec(p.exe, p.dir, params.c_str()), 0) << code;
        EXPECT_FALSE(p.Record().empty());
    }
}

TEST(Exec, NoParametersTraceAsNullAndPassNothing)
{
    Program p = MakeProgram("exec_noparam");
    TraceLogStart();
    ASSERT_EQ(RunExec(p.exe, "C:\\App\\", nullptr), 1);
    std::string n = std::to_string(p.exe.size() + 1);
    std::vector<std::string> expected = {
        "\t\t[Exec]>>",
        "\t\t\tcommand\t= " + p.exe,
        "\t\t\tdst\t\t= C:\\App\\",
        "\t\t\tparam\t\t= (null)",
        "\t\t\tszParamExpanded\t\t= ",
        "\t\t\tExpandEnvironmentStrings( )\t= " + n,
        "\t\t\tszCommandExpanded\t\t\t\t= " + p.exe,
        "\t\t\tShellExecuteEx = 1",
        "\t\t\t\tGetExitCodeProcess() = TRUE",
        "\t\t\t\t\tExitCode= 0",
        "\t\tbResult = 1",
        "\t\t[Exec]<<",
    };
    EXPECT_EQ(TraceLines(), expected);
    // The program sees its own path and nothing after it.
    std::string line = FirstLine(p.Record());
    EXPECT_NE(line.find("recorder.exe"), std::string::npos) << line;
    EXPECT_EQ(line.find("code:"), std::string::npos) << line;
    std::string tail = line.substr(line.find("recorder.exe") + 12);
    EXPECT_TRUE(tail.find_first_not_of("\" ") == std::string::npos) << line;
}

TEST(Exec, MissingProgramFailsAtTheShell)
{
    std::string dir = MakeTestDir("exec_missing");
    std::string exe = dir + "absent.exe";
    TraceLogStart();
    int result = -1;
    // The shell may tell the user itself; answer whatever it shows.
    BoxesDuring([&] { result = Exec(exe.c_str(), dir.c_str(), "x", nullptr); });
    EXPECT_EQ(result, 0);
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 3], "\t\t\tShellExecuteEx = 0");
    EXPECT_EQ(lines[lines.size() - 2], "\t\tbResult = 0");
}

TEST(Exec, DstPathInParametersIsReplacedEveryTime)
{
    Program p = MakeProgram("exec_dstpath", "with space");
    std::string dst = p.dir;
    TraceLogStart();
    ASSERT_EQ(RunExec(p.exe, dst, "code:0 A%DSTPATH%B %DSTPATH%x %dstpath%"), 1);
    std::string shortDst = ShortPath(dst);
    ASSERT_FALSE(shortDst.empty());
    std::string expanded = "code:0 A" + shortDst + "B " + shortDst + "x %dstpath%";
    EXPECT_NE(FirstLine(p.Record()).find(expanded), std::string::npos) << p.Record();
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[4], "\t\t\tszParamExpanded\t\t= " + expanded);
}

TEST(Exec, ParametersThatOutgrowTheirBufferStartNothing)
{
    Program p = MakeProgram("exec_longparam");
    // 519 bytes fit as they are; 520 do not.
    std::string fits = "code:0 " + std::string(512, 'p');
    EXPECT_EQ(RunExec(p.exe, p.dir, fits.c_str()), 1);
    DeleteFileA(p.RecordPath().c_str());
    TraceLogStart();
    std::string tooLong = fits + "q";
    EXPECT_EQ(RunExec(p.exe, p.dir, tooLong.c_str()), 0);
    EXPECT_FALSE(FileExists(p.RecordPath())) << "a program was started";
    std::vector<std::string> lines = TraceLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "\t\t\tszParamExpanded: longer than 519 bytes");
    EXPECT_EQ(lines[5], "\t\tbResult = 0");
}

TEST(Exec, ParametersThatOutgrowTheirBufferByReplacement)
{
    Program p = MakeProgram("exec_growparam");
    std::string params = "code:0 " + std::string(500, 'p') + " %DSTPATH%%DSTPATH%";
    EXPECT_EQ(RunExec(p.exe, p.dir, params.c_str()), 0);
    EXPECT_FALSE(FileExists(p.RecordPath())) << "a program was started";
}

// The started file is the expanded command, which the trace shows.
TEST(Exec, EnvironmentReferencesInTheCommandAreExpanded)
{
    Program p = MakeProgram("exec_percent", "zz");
    std::string command = p.exe;
    command.replace(command.find("\\zz\\"), 4, "\\%LUMI_EXEC_VAR%\\");
    SetEnvironmentVariableA("LUMI_EXEC_VAR", "zz");
    TraceLogStart();
    EXPECT_EQ(RunExec(command, p.dir, "code:0"), 1);
    EXPECT_FALSE(p.Record().empty());
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[1], "\t\t\tcommand\t= " + command);
    EXPECT_EQ(lines[6], "\t\t\tszCommandExpanded\t\t\t\t= " + p.exe);

    // An expansion beyond the buffer fails the command before anything starts.
    SetEnvironmentVariableA("LUMI_EXEC_VAR", std::string(600, 'z').c_str());
    DeleteFileA(p.RecordPath().c_str());
    TraceLogStart();
    EXPECT_EQ(RunExec(command, p.dir, "code:0"), 0);
    EXPECT_FALSE(FileExists(p.RecordPath()));
    lines = TraceLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[5].rfind("\t\t\tExpandEnvironmentStrings( )\t= ", 0), 0u);
    EXPECT_GT(std::stoi(lines[5].substr(lines[5].find("= ") + 2)), 520);
    EXPECT_EQ(lines[6], "\t\tbResult = 0");
    SetEnvironmentVariableA("LUMI_EXEC_VAR", nullptr);
}

} // namespace
