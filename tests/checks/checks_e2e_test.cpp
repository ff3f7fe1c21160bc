// The real updater refused by its pre-flight checks: a module held by the
// running application (code 5) and a destination on a full small disk (code 7).
#include "base/messages.h"
#include "installed.h"
#include "runningapp.h"
#include "testutil.h"

#include <windows.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

const std::string kScript = CrLf({"id=CHK-E2E", "target=1.", "copy=MIRO42.DLL", "copy=DATA.BIN"});

bool HasLine(const std::vector<std::string> &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void ExpectClosingBox(const RunResult &r, int code)
{
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, (DWORD)code);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].caption, CAPTION_FINISHED);
    EXPECT_EQ(r.boxes[0].text, MessageTable[code]);
    EXPECT_EQ(r.boxes[0].icon, ICON_WARNING);
    ASSERT_EQ(r.boxes[0].buttons.size(), 1u);
    EXPECT_EQ(r.boxes[0].buttons[0].id, IDOK);
    std::vector<std::string> lines = TraceLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "nResult = " + std::to_string(code));
}

std::string UpdateFolder(const std::string &name)
{
    std::string dir = MakeUpdateFolder(name, kScript);
    WriteFileBytes(dir + "MIRO42.DLL", "new library");
    WriteFileBytes(dir + "DATA.BIN", std::string(4096, 'd'));
    return dir;
}

class ChecksEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY); }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY); }
};

TEST_F(ChecksEndToEnd, ModuleHeldByTheRunningApplicationEndsWithCode5)
{
    std::string dst = MakeInstalledFolder("chk_e2e_held", "1.20");
    ASSERT_FALSE(dst.empty());
    InstalledRegistration reg("held", dst);
    ASSERT_TRUE(reg.ok());
    std::string before = ReadFileBytes(dst + "MIRO42.DLL");
    RunningApp app;
    // It outlives the whole wait of 15 seconds.
    ASSERT_TRUE(app.Start(dst, 50000)) << app.failure();
    std::string dir = UpdateFolder("chk_e2e_5");
    DWORD start = GetTickCount();
    RunResult r = RunProgram(dir + "Lumiupd.exe", "-auto", {});
    DWORD took = GetTickCount() - start;
    ExpectClosingBox(r, 5);
    EXPECT_GE(took, 14500u) << "the application gets its 15 seconds";
    std::vector<std::string> lines = TraceLines();
    EXPECT_TRUE(HasLine(lines, "\t\t\t\"LumitelShadowWindowClass\" is running"));
    EXPECT_TRUE(HasLine(lines, "\t\t\tProcessId = " + std::to_string(app.pid()) + " "));
    EXPECT_TRUE(HasLine(lines, "\t\t\t\tWaitForSingleObject(hProcess, 15000 ) = 258"));
    EXPECT_TRUE(HasLine(lines, "\t\t\tdwError = 32"));
    EXPECT_TRUE(HasLine(lines, "\tbResult = 0"));
    EXPECT_FALSE(HasLine(lines, "\t\t[checkSpace]>>"));
    EXPECT_TRUE(ReadFileBytes(dst + "MIRO42.DLL") == before) << "the held library was touched";
    EXPECT_FALSE(FileExists(dst + "DATA.BIN"));
}

TEST_F(ChecksEndToEnd, ApplicationEndingWithinTheWaitLetsTheUpdateGoOn)
{
    std::string dst = MakeInstalledFolder("chk_e2e_ends", "1.20");
    ASSERT_FALSE(dst.empty());
    InstalledRegistration reg("ends", dst);
    ASSERT_TRUE(reg.ok());
    RunningApp app;
    ASSERT_TRUE(app.Start(dst, 3000)) << app.failure();
    std::string dir = UpdateFolder("chk_e2e_ends_update");
    DWORD start = GetTickCount();
    RunResult r = RunProgram(dir + "Lumiupd.exe", "-auto", {});
    DWORD took = GetTickCount() - start;
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(r.boxes.empty()) << "an unattended success shows nothing";
    EXPECT_LT(took, 12000u) << "the wait ends with the application";
    std::vector<std::string> lines = TraceLines();
    EXPECT_TRUE(HasLine(lines, "\t\t\t\tWaitForSingleObject(hProcess, 15000 ) = 0"));
    EXPECT_TRUE(HasLine(lines, "\tbResult = 1"));
    EXPECT_TRUE(HasLine(lines, "\t\tubResult = 1"));
    EXPECT_TRUE(ReadFileBytes(dst + "MIRO42.DLL") == "new library");
    EXPECT_TRUE(ReadFileBytes(dst + "DATA.BIN") == std::string(4096, 'd'));

}

TEST_F(ChecksEndToEnd, DestinationOnAFullSmallDiskEndsWithCode7)
{
    const std::string disk = "V:\\";
    ULARGE_INTEGER freeBytes = {};
    if (!GetDiskFreeSpaceExA(disk.c_str(), &freeBytes, nullptr, nullptr) || freeBytes.QuadPart > 1048576)
        GTEST_SKIP() << "no 1 MiB disk at V: (mounting a tmpfs was not permitted here)";
    std::string dst = disk + "chk_e2e\\";
    RemoveTree(dst);
    ASSERT_TRUE(CreateDirectoryA(dst.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(dst + "RT_IDX.DAT", DataFileBytes("1.30")));
    ASSERT_TRUE(WriteFileBytes(dst + "MIRO42.DLL", "old library"));
    InstalledRegistration reg("small", dst);
    ASSERT_TRUE(reg.ok());
    ASSERT_TRUE(GetDiskFreeSpaceExA(disk.c_str(), &freeBytes, nullptr, nullptr));
    // The update folder (the updater itself included) outweighs the disk.
    std::string dir = UpdateFolder("chk_e2e_7");
    WriteFileBytes(dir + "DATA.BIN", std::string(1100000, 'd'));
    RunResult r = RunProgram(dir + "Lumiupd.exe", "", {});
    ExpectClosingBox(r, 7);
    std::vector<std::string> lines = TraceLines();
    EXPECT_TRUE(HasLine(lines, "\t\tubResult = 0"));
    bool measured = false;
    for (const auto &line : lines)
        measured |= line.find("\t\t\t dwNecessarySpace = ") == 0 &&
                    line.find(", dwFreeSpace = " + std::to_string(freeBytes.QuadPart)) != std::string::npos;
    EXPECT_TRUE(measured);
    EXPECT_EQ(ReadFileBytes(dst + "MIRO42.DLL"), "old library");
    RemoveTree(dst);
}

} // namespace
