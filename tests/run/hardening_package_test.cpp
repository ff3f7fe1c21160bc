// Update folders that carry a manifest in their updater: a folder that
// differs from it in any file is refused before anything changes, and what
// the run uses is what was checked, whatever another program does to the
// folder meanwhile.
#include "base/messages.h"
#include "base/sha256.h"
#include "hardening_util.h"
#include "installed.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

namespace {

const char kMarker[] = "LUMIUPD-MANIFEST";

std::string Hex(const unsigned char *bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < n; i++) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// "file=" line of the file at upd + name, as the packer writes it.
std::string FileLine(const std::string &upd, const std::string &name)
{
    HANDLE file = CreateFileA((upd + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    unsigned char digest[SHA256_DIGEST_BYTES] = {};
    unsigned long long size = 0;
    bool hashed = file != INVALID_HANDLE_VALUE && HashFileSha256(file, digest, &size);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    EXPECT_TRUE(hashed) << name;
    return "file=" + Hex(digest, sizeof(digest)) + " " + std::to_string(size) + " " + name + "\n";
}

// Writes the manifest of the listed files into the folder's updater, where
// the packer would.
bool Package(const std::string &upd, const std::vector<std::string> &names)
{
    std::string text = std::string(kMarker) + " 1\nid=PKG1\ncreated=2026-12-07T00:00:00Z\n";
    for (const std::string &name : names)
        text += FileLine(upd, name);
    std::string exe = ReadFileBytes(upd + "Lumiupd.exe");
    size_t at = exe.find(kMarker);
    if (at == std::string::npos || exe.find(kMarker, at + 1) != std::string::npos)
        return false;
    for (int i = 0; i < 4; i++)
        exe[at + 16 + i] = (char)((text.size() >> (8 * i)) & 0xFF);
    exe.replace(at + 20, text.size(), text);
    return WriteFileBytes(upd + "Lumiupd.exe", exe);
}

// The script, a copied file, a plug-in, a program and a file in a subfolder.
const std::vector<std::string> kFiles = {"Lumiupd.INF", "CONVERT.EXE", "data.dat", "lumiplugin.dll", "sub\\deep.dat"};

std::string MakePackage(const std::string &name)
{
    std::string upd = MakeUpdateFolder(
        name, CrLf({"id=PKG1", "target=1.1", "copy=data.dat", "dll=data.dat,lumiplugin.dll,Status0",
                    "copy=sub\\deep.dat", "exe=CONVERT.EXE,ran", "log=a/b"}));
    EXPECT_TRUE(CopyFileA((BinDir() + "lumiplugin.dll").c_str(), (upd + "lumiplugin.dll").c_str(), FALSE));
    EXPECT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), (upd + "CONVERT.EXE").c_str(), FALSE));
    EXPECT_TRUE(WriteFileBytes(upd + "data.dat", std::string(1 << 20, 'n')));
    EXPECT_TRUE(CreateDirectoryA((upd + "sub").c_str(), nullptr));
    EXPECT_TRUE(WriteFileBytes(upd + "sub\\deep.dat", "new deep"));
    return upd;
}

std::string MakeApp(const std::string &name)
{
    std::string app = MakeInstalledFolder(name, "1.10");
    EXPECT_TRUE(CreateDirectoryA((app + "sub").c_str(), nullptr));
    return app;
}

RunResult RunUnattended(const std::string &upd, const std::string &app)
{
    return RunProgram(upd + "Lumiupd.exe", "-unattended \"" + app + "\"", {});
}

bool TraceHas(const std::string &line)
{
    for (const std::string &l : TraceLines())
        if (l == line)
            return true;
    return false;
}

// Each way a folder can differ from its manifest ends the run with 8 before
// anything changes; the box names the file (none under -unattended).
TEST(PackageRuns, AFolderUnlikeItsManifestIsRefusedBeforeAnyChange)
{
    struct Case {
        const char *what;
        std::vector<std::string> listed;  // what the manifest lists
        std::function<void(const std::string &)> change;
        std::string file, reason;
    } cases[] = {
        {"tampered", kFiles, [](const std::string &u) { WriteFileBytes(u + "data.dat", std::string(1 << 20, 'x')); },
         "data.dat", "content differs"},
        {"partial", kFiles, [](const std::string &u) { WriteFileBytes(u + "data.dat", "n"); }, "data.dat",
         "size differs"},
        {"missing", kFiles, [](const std::string &u) { DeleteFileA((u + "sub\\deep.dat").c_str()); },
         "sub\\deep.dat", "missing"},
        {"script altered", kFiles,
         [](const std::string &u) {
             std::string s = ReadFileBytes(u + "Lumiupd.INF");
             s[0] = 'I';
             WriteFileBytes(u + "Lumiupd.INF", s);
         },
         "Lumiupd.INF", "content differs"},
        {"named but not listed", {"Lumiupd.INF", "CONVERT.EXE", "data.dat", "sub\\deep.dat"},
         [](const std::string &) {}, "lumiplugin.dll", "not in the manifest"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string upd = MakePackage("package_bad_upd");
        ASSERT_TRUE(Package(upd, c.listed));
        c.change(upd);
        std::string app = MakeApp("package_bad_app");
        TreeState before = ReadTree(app);
        RunOptions options;
        options.answers = {{IDOK}};
        RunResult r = RunProgram(upd + "Lumiupd.exe", "-auto \"" + app + "\"", options);
        EXPECT_EQ(r.exitCode, 8u) << BoxTexts(r);
        ASSERT_EQ(r.boxes.size(), 1u) << BoxTexts(r);
        EXPECT_EQ(r.boxes[0].text, std::string(MessageTable[RESULT_BAD_PACKAGE]) + "\n" + c.file);
        EXPECT_TRUE(TraceHas("\tpackage refused - " + c.file + ": " + c.reason)) << c.file;
        EXPECT_EQ(TreeChanges(before, ReadTree(app)), std::vector<std::string>{});
        // Unattended, the result file names the file instead of the box.
        std::string result = MakeTestDir("package_bad_result") + "result.json";
        r = RunProgram(upd + "Lumiupd.exe", "-unattended \"" + app + "\" -result=" + result, {});
        EXPECT_EQ(r.exitCode, 8u);
        EXPECT_TRUE(r.boxes.empty()) << BoxTexts(r);
        EXPECT_NE(ReadFileBytes(result).find("\"cause\": {\"file\": " + JsonQuoted(c.file) + "}"), std::string::npos)
            << ReadFileBytes(result);
    }
}

// Once the folder has been checked, another program swaps every file of it
// it can, rewrites them and renames the folder, over and over while the run
// goes on: every attempt fails, and the installed copy gets the bytes that
// were checked. A folder without a manifest is used as it is, without the
// line of a checked one.
TEST(PackageRuns, FilesHeldFromTheirCheckToTheirUse)
{
    std::string upd = MakePackage("package_race_upd");
    ASSERT_TRUE(Package(upd, kFiles));
    std::string other = MakeTestDir("package_race_other");
    for (const char *name : {"data.dat", "lumiplugin.dll", "Lumiupd.INF", "deep.dat", "CONVERT.EXE"})
        ASSERT_TRUE(WriteFileBytes(other + name, std::string("swapped ") + name));
    std::string app = MakeApp("package_race_app");
    std::atomic<bool> stop{false};
    std::atomic<int> swapped{0};
    FILETIME started;
    GetSystemTimeAsFileTime(&started);
    std::thread racer([&] {
        std::string moved = upd.substr(0, upd.size() - 1) + "_moved";
        while (!stop && ReadFileBytes(TraceLogPath()).find("\t[CheckFile]>>") == std::string::npos)
            Sleep(1);
        // The updater lets go when it ends, after its last line: what
        // succeeds then does not count.
        auto running = [] { return ReadFileBytes(TraceLogPath()).find("nResult = ") == std::string::npos; };
        while (!stop) {
            for (const std::string &name : kFiles) {
                std::string source = other + PathFindFileNameA(name.c_str());
                if ((CopyFileA(source.c_str(), (upd + name).c_str(), FALSE) ||
                     MoveFileExA((upd + name).c_str(), (other + "x").c_str(), MOVEFILE_REPLACE_EXISTING)) &&
                    running())
                    swapped++;
            }
            if (MoveFileExA(upd.substr(0, upd.size() - 1).c_str(), moved.c_str(), 0)) {
                if (running())
                    swapped++;
                MoveFileExA(moved.c_str(), upd.substr(0, upd.size() - 1).c_str(), 0);
            }
        }
    });
    RunResult r = RunUnattended(upd, app);
    stop = true;
    racer.join();
    EXPECT_EQ(r.exitCode, 0u) << BoxTexts(r);
    EXPECT_EQ(swapped, 0);
    EXPECT_TRUE(ReadFileBytes(app + "data.dat") == std::string(1 << 20, 'n'));
    EXPECT_EQ(ReadFileBytes(app + "sub\\deep.dat"), "new deep");
    EXPECT_TRUE(TraceHas("\tupdate folder verified - PKG1, 5 files"));
    EXPECT_FALSE(StagedFile("CONVERT.txt", started).empty()) << "the program that was checked ran, from its verified copy";

    std::string plain = MakePackage("package_plain_upd");
    r = RunUnattended(plain, MakeApp("package_plain_app"));
    EXPECT_EQ(r.exitCode, 0u) << BoxTexts(r);
    EXPECT_FALSE(TraceHas("\tupdate folder verified - PKG1, 5 files"));
}

// A plug-in, its companion, a helper it loads by name and a program that loads
// a library by name, all listed: they run from verified copies in a folder of
// the updater's own, where a library put beside them in the update folder,
// unlisted, is never found. The same folder without a manifest loads it.
TEST(PackageRuns, PlugInsAndProgramsRunFromVerifiedCopies)
{
    const std::vector<std::string> listed = {"Lumiupd.INF",      "CONVERT.EXE",           "data.dat",
                                             "lumihelper.dll",   "lumiplugin.dll",        "plugins\\lumicompanion.dll",
                                             "plugins\\lumideps.dll"};
    auto make = [](const std::string &name) {
        std::string upd = MakeUpdateFolder(
            name, CrLf({"id=PKG1", "target=1.1", "dll=data.dat,lumiplugin.dll,LoadHelper",
                        "dll=data.dat,plugins\\lumideps.dll,CallCompanion", "exe=CONVERT.EXE,profapi.dll"}));
        EXPECT_TRUE(CreateDirectoryA((upd + "plugins").c_str(), nullptr));
        for (const char *file : {"lumiplugin.dll", "plugins\\lumideps.dll", "plugins\\lumicompanion.dll"})
            EXPECT_TRUE(CopyFileA((BinDir() + PathFindFileNameA(file)).c_str(), (upd + file).c_str(), FALSE));
        EXPECT_TRUE(CopyFileA((BinDir() + "dllprobe.exe").c_str(), (upd + "CONVERT.EXE").c_str(), FALSE));
        EXPECT_TRUE(PlantDlls(upd, {"lumihelper.dll"}));
        EXPECT_TRUE(WriteFileBytes(upd + "data.dat", "data"));
        return upd;
    };
    std::string upd = make("package_stage_upd");
    ASSERT_TRUE(Package(upd, listed));
    ASSERT_TRUE(PlantDlls(upd, {"profapi.dll", "lumicompanion.dll"}));
    ClearMarkers();
    RunResult r = RunUnattended(upd, MakeApp("package_stage_app"));
    EXPECT_EQ(r.exitCode, 0u) << BoxTexts(r);
    std::map<std::string, std::string> markers = Markers();
    char windows[MAX_PATH];
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    std::string temp = std::string(windows) + "\\Temp\\~lu";
    std::string helper = markers["lumihelper.dll@Lumiupd.exe"], companion = markers["lumicompanion.dll@Lumiupd.exe"];
    EXPECT_EQ(markers.size(), 2u);
    EXPECT_EQ(_strnicmp(helper.c_str(), temp.c_str(), temp.size()), 0) << helper;
    EXPECT_EQ(helper.substr(helper.size() - 15), "\\lumihelper.dll");
    EXPECT_EQ(_strnicmp(companion.c_str(), temp.c_str(), temp.size()), 0) << companion;
    EXPECT_EQ(companion.substr(companion.size() - 26), "\\plugins\\lumicompanion.dll");
    EXPECT_EQ(markers.count("profapi.dll@CONVERT.EXE"), 0u) << markers["profapi.dll@CONVERT.EXE"];
    EXPECT_TRUE(TraceHas("\tstaged - 6 files"));
    EXPECT_EQ(GetFileAttributesA(helper.c_str()), INVALID_FILE_ATTRIBUTES) << "the copies go with the run";

    std::string plain = make("package_unstaged_upd");
    ASSERT_TRUE(PlantDlls(plain, {"profapi.dll"}));
    ClearMarkers();
    r = RunUnattended(plain, MakeApp("package_unstaged_app"));
    EXPECT_EQ(r.exitCode, 0u) << BoxTexts(r);
    EXPECT_EQ(Markers()["profapi.dll@CONVERT.EXE"], plain + "profapi.dll");
}

} // namespace
