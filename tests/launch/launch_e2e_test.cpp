// The real updater carrying out the plug-in, program, shortcut and history
// commands of a script and starting its post program through a stand-in shell.
#include "base/messages.h"
#include "installed.h"
#include "shellfixture.h"
#include "testutil.h"

#include <shlobj.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

const char POST_FOLDER[] = "LumiE2E\\with space";

std::string ProgramFiles()
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path);
    return path;
}

std::string ShortPath(const std::string &path)
{
    char buf[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), buf, MAX_PATH);
    return buf;
}

// The value of the first trace line that starts with prefix.
std::string TraceValue(const std::string &prefix)
{
    for (const std::string &line : TraceLines()) {
        if (line.rfind(prefix, 0) == 0)
            return line.substr(prefix.size());
    }
    return "";
}

bool HasLine(const std::string &line)
{
    std::vector<std::string> lines = TraceLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

struct Scene {
    std::string dst, upd, post, postRecord;
};

// An installed copy, an update folder with the plug-in and the recorder, and
// the post program in a folder with a space under Program Files.
Scene MakeScene(const std::string &name, int exitCode)
{
    Scene s;
    s.dst = MakeInstalledFolder(name + "_dst", "1.20");
    std::string updName = name + "_upd";
    std::string updDir = "C:\\lumitest\\" + updName + "\\";
    std::string script = CrLf({
        "id=UE2E",
        "target=1.",
        "dll=data.dat," + updDir + "lumiplugin.dll,RecordPaths",
        "exe=recorder.exe,code:" + std::to_string(exitCode) + " %DSTPATH%",
        "shortcut=%DESKTOP%LumiE2E\\リンク,MIRO42.DLL",
        "log=2024年3月/データ更新",
        "post=%PROGRAM_FILES%" + std::string(POST_FOLDER) + "\\recorder.exe",
    });
    s.upd = MakeUpdateFolder(updName, script);
    CopyFileA((BinDir() + "lumiplugin.dll").c_str(), (s.upd + "lumiplugin.dll").c_str(), FALSE);
    CopyFileA((BinDir() + "recorder.exe").c_str(), (s.upd + "recorder.exe").c_str(), FALSE);
    WriteFileBytes(s.upd + "data.dat", "new data");
    std::string postDir = ProgramFiles() + "\\LumiE2E";
    RemoveTree(postDir);
    CreateDirectoryA(postDir.c_str(), nullptr);
    CreateDirectoryA((postDir + "\\with space").c_str(), nullptr);
    s.post = ProgramFiles() + "\\" + POST_FOLDER + "\\recorder.exe";
    s.postRecord = ProgramFiles() + "\\" + POST_FOLDER + "\\recorder.txt";
    CopyFileA((BinDir() + "recorder.exe").c_str(), s.post.c_str(), FALSE);
    return s;
}

void RemoveScene(const std::string &shortcutPath)
{
    RemoveTree(ProgramFiles() + "\\LumiE2E");
    if (!shortcutPath.empty()) {
        DeleteFileA((shortcutPath + ".lnk").c_str());
        RemoveDirectoryA(shortcutPath.substr(0, shortcutPath.rfind('\\')).c_str());
    }
}

TEST(LaunchEndToEnd, EveryCommandKindThenThePostProgram)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    Scene s = MakeScene("launch_e2e", 0);
    ASSERT_FALSE(s.dst.empty());
    RunResult r = RunProgram(s.upd + "Lumiupd.exe", "-auto \"" + s.dst + "\"", {});
    std::string shortcutPath = TraceValue("\t\t\tpath   = ");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty()) << r.boxes[0].text;

    // dll: the plug-in got the update's file and the installed one.
    EXPECT_EQ(ReadFileBytes(s.dst + "data.dat"), s.upd + "data.dat\r\n" + s.dst + "data.dat\r\n");
    // exe: the program ran from the update with the destination's short path.
    std::vector<std::string> exeRecord = RecordLines(s.upd + "recorder.txt");
    ASSERT_EQ(exeRecord.size(), 2u);
    EXPECT_NE(exeRecord[0].find("code:0 " + ShortPath(s.dst)), std::string::npos) << exeRecord[0];
    // shortcut: made where the folder macro points.
    ASSERT_FALSE(shortcutPath.empty());
    std::string tail = "\\LumiE2E\\リンク";
    ASSERT_GT(shortcutPath.size(), tail.size());
    EXPECT_EQ(shortcutPath.substr(shortcutPath.size() - tail.size()), tail);
    EXPECT_TRUE(FileExists(shortcutPath + ".lnk"));
    // log and installed list.
    std::string history = ReadFileBytes(s.dst + "update.log");
    EXPECT_EQ(history.substr(history.find('\t')), "\tUE2E\t2024年3月\tデータ更新\r\n");
    EXPECT_NE(ReadFileBytes(s.dst + "MIRO42.INI").find("INSTALLED=UE2E\r\n"), std::string::npos);
    // post: started with the shell's token, quoted, in its own folder.
    std::vector<std::string> postRecord = RecordLines(s.postRecord);
    ASSERT_EQ(postRecord.size(), 2u);
    EXPECT_EQ(postRecord[0], "\"" + s.post + "\"");
    EXPECT_EQ(postRecord[1], ProgramFiles() + "\\" + POST_FOLDER);
    EXPECT_TRUE(HasLine("StartProcess(\"" + s.post + "\")"));
    EXPECT_TRUE(HasLine("StartProcess() succeeded."));
    RemoveScene(shortcutPath);
}

TEST(LaunchEndToEnd, PostProgramStartsOnlyAfterTheClosingBox)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    Scene s = MakeScene("launch_e2e_box", 0);
    RunOptions options;
    options.answers = {{IDOK, 2000}};
    FILETIME start;
    GetSystemTimeAsFileTime(&start);
    RunResult r = RunProgram(s.upd + "Lumiupd.exe", "\"" + s.dst + "\"", options);
    std::string shortcutPath = TraceValue("\t\t\tpath   = ");
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_FALSE(r.boxes.empty());
    EXPECT_EQ(r.boxes.back().caption, CAPTION_FINISHED);
    EXPECT_EQ(r.boxes.back().text, MessageTable[0]);
    ASSERT_EQ(RecordLines(s.postRecord).size(), 2u);
    // The record is written as the program starts, which must come after the
    // box was answered, two seconds after it appeared.
    WIN32_FILE_ATTRIBUTE_DATA record;
    ASSERT_TRUE(GetFileAttributesExA(s.postRecord.c_str(), GetFileExInfoStandard, &record));
    ULONGLONG started = ((ULONGLONG)start.dwHighDateTime << 32) | start.dwLowDateTime;
    ULONGLONG recorded =
        ((ULONGLONG)record.ftLastWriteTime.dwHighDateTime << 32) | record.ftLastWriteTime.dwLowDateTime;
    EXPECT_GE(recorded - started, 20000000ull) << "the post program started before the box was closed";
    RemoveScene(shortcutPath);
}

TEST(LaunchEndToEnd, FailedUpdateStartsNothing)
{
    ShellWindow shell;
    ASSERT_TRUE(shell.Ready());
    Scene s = MakeScene("launch_e2e_fail", 3);
    RunOptions options;
    options.answers = {{IDOK}};
    RunResult r = RunProgram(s.upd + "Lumiupd.exe", "-auto \"" + s.dst + "\"", options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 4u);
    EXPECT_EQ(RecordLines(s.upd + "recorder.txt").size(), 2u) << "the program of the exe command did not run";
    EXPECT_FALSE(FileExists(s.dst + "update.log")) << "a command after the failed one ran";
    EXPECT_EQ(ReadFileBytes(s.dst + "MIRO42.INI").find("UE2E"), std::string::npos);
    Sleep(500);
    EXPECT_FALSE(FileExists(s.postRecord));
    EXPECT_FALSE(HasLine("StartProcess(\"" + s.post + "\")"));
    RemoveScene("");
}

} // namespace
