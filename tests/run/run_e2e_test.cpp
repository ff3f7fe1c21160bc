// The real updater under Wine, watched by the dialog robot.
#include "base/messages.h"
#include "checks/manifestimage.h"
#include "peimage.h"
#include "testutil.h"

#include <set>

#include <gtest/gtest.h>

namespace {

TEST(RunEndToEnd, NoScriptEndsWithCode2AndItsBox)
{
    for (const char *args : {"", "-auto"}) {
        SCOPED_TRACE(args);
        std::string dir = MakeUpdateFolder("run_noscript", "");
        RunResult r = RunProgram(dir + "Lumiupd.exe", args, {});
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 2u);
        ASSERT_EQ(r.boxes.size(), 1u);
        EXPECT_EQ(r.boxes[0].caption, CAPTION_FINISHED);
        EXPECT_EQ(r.boxes[0].text, MessageTable[2]);
        EXPECT_EQ(r.boxes[0].icon, ICON_WARNING);
        ASSERT_EQ(r.boxes[0].buttons.size(), 1u);
        EXPECT_EQ(r.boxes[0].buttons[0].id, IDOK);
    }
}

TEST(RunEndToEnd, TraceLogOfARefusedScript)
{
    std::string dir = MakeUpdateFolder("run_trace", "");
    WriteFileBytes(TraceLogPath(), "old run\r\nold line\r\n");
    RunResult r = RunProgram(dir + "Lumiupd.exe", "/silent \"C:\\some where\" -Auto", {});
    ASSERT_EQ(r.exitCode, 2u);
    std::string raw = ReadFileBytes(TraceLogPath());
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], TraceLogPath());
    EXPECT_EQ(lines[1], "param=[/silent \"C:\\some where\" -Auto]");
    EXPECT_EQ(lines[2], "\tcl.flag\t= 3");
    EXPECT_EQ(lines[3], "\tcl.dst\t\t= C:\\some where\\");
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(lines.back(), "nResult = 2");
    EXPECT_EQ(raw.find("old"), std::string::npos) << "the previous run's log was not truncated";
    // Every line ends in CR LF: no bare line feed anywhere.
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] == '\n') {
            ASSERT_TRUE(i > 0 && raw[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
}

TEST(RunEndToEnd, HardLinkPlantedAtTheLogPathIsLeftAlone)
{
    std::string dir = MakeUpdateFolder("run_loglink", "");
    std::string victim = dir + "victim.ini";
    ASSERT_TRUE(WriteFileBytes(victim, "[MAIN]\r\nKEEP=1\r\n"));
    DeleteFileA(TraceLogPath().c_str());
    ASSERT_TRUE(CreateHardLinkA(TraceLogPath().c_str(), victim.c_str(), nullptr));
    RunResult r = RunProgram(dir + "Lumiupd.exe", "", {});
    EXPECT_EQ(r.exitCode, 2u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, MessageTable[2]);
    EXPECT_EQ(ReadFileBytes(victim), "[MAIN]\r\nKEEP=1\r\n");
    DeleteFileA(TraceLogPath().c_str());
}

TEST(RunEndToEnd, ExeIsAStaticGuiProgramOfTheRightKind)
{
    PeImage exe;
    ASSERT_TRUE(exe.Load(BinDir() + "Lumiupd.exe"));
    EXPECT_EQ(exe.machine, 0x14C);  // i386
    EXPECT_EQ(exe.magic, 0x10B);    // PE32
    EXPECT_EQ(exe.subsystem, 2);    // GUI
    // Statically linked, and at start only what every program imports: the
    // window libraries, shlwapi and advapi32 load on first call, the shell's
    // and COM's when first needed, so a run that ends at once loads none.
    const std::set<std::string> atStart = {"KERNEL32.DLL", "MSVCRT.DLL"};
    std::vector<std::string> dlls = exe.ImportedDlls();
    EXPECT_GE(dlls.size(), 2u);
    for (std::string dll : dlls) {
        for (char &c : dll)
            c = (char)toupper((unsigned char)c);
        EXPECT_TRUE(atStart.count(dll)) << dll;
    }
    // Debug information, exception tables or a second printf would show here.
    // No room is kept for a package manifest: the packer adds a section for
    // it, and the updater as built holds none (nor anything its reader takes
    // for one). The dry run, the result file, the verified copies, the run
    // from the stage and all-or-nothing updates took most of what came after
    // 80 KB.
    std::string image = ReadFileBytes(BinDir() + "Lumiupd.exe");
    PeBytes file = {(const unsigned char *)image.data(), image.size(), 0};
    ManifestPlace place;
    ManifestFault fault;
    EXPECT_EQ(FindManifest(&file, &place, &fault), MANIFEST_ABSENT);
    EXPECT_LE(image.size(), 120u * 1024);
    EXPECT_LE(ReadFileBytes(BinDir() + "LumiupdCheck.exe").size(), 80u * 1024);
}

} // namespace
