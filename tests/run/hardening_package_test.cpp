// Update folders that carry a manifest in their updater: a folder that
// differs from it in any file is refused before anything changes, and what
// the run uses is what was checked, whatever another program does to the
// folder meanwhile.
#include "base/messages.h"
#include "hardening_util.h"
#include "installed.h"
#include "packager.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

namespace {

// Writes the manifest of the listed files into the folder's updater, where
// the packer would.
bool Package(const std::string &upd, const std::vector<std::string> &names)
{
    return WriteManifest(upd + "Lumiupd.exe", ManifestText(upd, names, "PKG1"));
}

// The script, a copied file, a plug-in, a program and a file in a subfolder.
const std::vector<std::string> kFiles = {"Lumiupd.INF", "CONVERT.EXE", "data.dat", "lumiplugin.dll", "sub\\deep.dat"};

std::string MakePackage(const std::string &name, const std::string &extraCommand = "")
{
    std::vector<std::string> script = {"id=PKG1", "target=1.1", "copy=data.dat", "dll=data.dat,lumiplugin.dll,Status0",
                                       "copy=sub\\deep.dat", "exe=CONVERT.EXE,ran", "log=a/b"};
    if (!extraCommand.empty())
        script.push_back(extraCommand);
    std::string upd = MakeUpdateFolder(name, CrLf(script));
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
    // A program outside the folder that a command could reach by a name the
    // manifest seems to list: "%TEMP%\..\CONVERT.EXE" is CONVERT.EXE of the
    // update folder to a path check, and the user's own folder once expanded.
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    std::string outside = std::string(temp) + "..\\CONVERT.EXE";
    ASSERT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), outside.c_str(), FALSE));
    struct Case {
        const char *what;
        std::vector<std::string> listed;  // what the manifest lists
        std::function<void(const std::string &)> change;
        std::string file, reason;
        std::string extraCommand = "";
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
        {"an absolute source", kFiles, [](const std::string &) {}, "C:\\lumitest\\package_bad_upd\\data.dat",
         "not in the manifest", "copy=C:\\lumitest\\package_bad_upd\\data.dat"},
        {"a program named through the environment", kFiles, [](const std::string &) {}, "%TEMP%\\..\\CONVERT.EXE",
         "not in the manifest", "exe=%TEMP%\\..\\CONVERT.EXE,outside"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string upd = MakePackage("package_bad_upd", c.extraCommand);
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
    EXPECT_FALSE(FileExists(std::string(temp) + "..\\CONVERT.txt")) << "the program outside the folder ran";
    DeleteFileA(outside.c_str());
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


// The first trace lines of a run: the log's path, the command line and the
// options; a run refused for its own manifest has nothing else before it.
bool RefusedBeforeTheScript(const std::string &reason)
{
    std::vector<std::string> lines = TraceLines();
    return lines.size() > 5 && lines[4].rfind("\tpackage refused - Lumiupd.exe: its manifest cannot be read", 0) == 0 &&
           lines[4].find(reason) != std::string::npos;
}

// Every damaged manifest the updater meets in its own image ends the run
// with 8 before its script is read, and lumiupd-check --verify refuses the
// same folder for the same reason; a whole one both take. The two share one
// reader: they agree on every case here.
TEST(PackageRuns, DamagedManifestsAreRefusedAlikeByTheUpdaterAndTheChecker)
{
    auto header = [](std::string &exe, size_t field, unsigned long value) {
        size_t at = ManifestSectionHeader(exe);
        for (int i = 0; i < 4; i++)
            exe[at + field + i] = (char)(value >> (8 * i));
        return at != 0;
    };
    auto edit = [](const std::string &upd, std::function<bool(std::string &)> change) {
        std::string exe = ReadFileBytes(upd + "Lumiupd.exe");
        return change(exe) && WriteFileBytes(upd + "Lumiupd.exe", exe);
    };
    struct Case {
        const char *what;
        std::function<std::string(const std::string &)> text;  // from the whole one
        std::function<bool(const std::string &)> change;       // of the packaged folder
        std::string reason;                                    // "" for one both take
    } cases[] = {
        {"whole", nullptr, nullptr, ""},
        {"an id of 259 bytes", [](const std::string &t) { return "LUMIUPD-MANIFEST 2\nid=" + std::string(259, 'I') + t.substr(t.find('\n', 19)); },
         nullptr, ""},
        {"an id of 260 bytes", [](const std::string &t) { return "LUMIUPD-MANIFEST 2\nid=" + std::string(260, 'I') + t.substr(t.find('\n', 19)); },
         nullptr, "line 2: not id= with 1 to 259 bytes"},
        {"length 0", nullptr,
         [&](const std::string &u) { return edit(u, [&](std::string &e) { return header(e, 8, 0); }); },
         "the manifest section's sizes do not hold its text"},
        {"length 0xFFFFFFFF", nullptr,
         [&](const std::string &u) { return edit(u, [&](std::string &e) { return header(e, 8, 0xFFFFFFFFul); }); },
         "the manifest section's sizes do not hold its text"},
        {"longer than its section", nullptr,
         [&](const std::string &u) { return edit(u, [&](std::string &e) { return header(e, 8, 1025); }); },
         "the manifest section's sizes do not hold its text"},
        {"cut short", nullptr,
         [&](const std::string &u) { return edit(u, [&](std::string &e) { return header(e, 8, 300); }); },
         "line 6: the last line does not end in a line feed"},
        {"a second marker", nullptr,
         [](const std::string &u) {
             std::string exe = ReadFileBytes(u + "Lumiupd.exe");
             size_t first = ManifestSectionHeader(exe);
             exe.replace(first, 8, ".rdata2\0", 8);
             return first && WriteFileBytes(u + "Lumiupd.exe", exe) &&
                    WriteManifest(u + "Lumiupd.exe", ManifestText(u, kFiles, "PKG1"), false);
         },
         "the image holds more than one manifest"},
        {"..\\..\\windows\\win.ini listed",
         [](const std::string &t) {
             return t + "file=" + std::string(64, '0') + " 0 ..\\..\\windows\\win.ini\n";
         },
         nullptr, "line 10: a path with an empty, \".\" or \"..\" part"},
        {"a malformed created=",
         [](const std::string &t) {
             std::string text = t;
             return text.replace(text.find("created=") + 8, 20, "2026-12-7T00:00:00Z");
         },
         nullptr, "line 3: not created=YYYY-MM-DDTHH:MM:SSZ"},
        {"the script not first",
         [](const std::string &t) {
             size_t script = t.find("file="), next = t.find('\n', script) + 1, end = t.find('\n', next) + 1;
             return t.substr(0, script) + t.substr(next, end - next) + t.substr(script, next - script) + t.substr(end);
         },
         nullptr, "line 5: the first file is not the updater's script"},
        {"a file listed twice",
         [](const std::string &t) {
             size_t deep = t.find(" sub\\deep.dat\n"), start = t.rfind('\n', deep) + 1;
             return t + t.substr(start, deep - start) + " SUB\\DEEP.DAT\n";
         },
         nullptr, "line 10: a path listed twice"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string upd = MakePackage("package_damaged_upd");
        std::string text = ManifestText(upd, kFiles, "PKG1");
        ASSERT_TRUE(WriteManifest(upd + "Lumiupd.exe", c.text ? c.text(text) : text));
        if (c.change) {
            ASSERT_TRUE(c.change(upd));
        }
        RunResult r = RunUnattended(upd, MakeApp("package_damaged_app"));
        CheckerVerdict checked = VerifyNatively(upd);
        if (c.reason.empty()) {
            EXPECT_EQ(r.exitCode, 0u);
            EXPECT_EQ(checked.exitCode, 0) << checked.output;
            continue;
        }
        EXPECT_EQ(r.exitCode, 8u);
        EXPECT_TRUE(RefusedBeforeTheScript(c.reason)) << ReadFileBytes(TraceLogPath());
        EXPECT_EQ(checked.exitCode, 1) << checked.output;
        EXPECT_NE(checked.output.find("Lumiupd.exe: error: its manifest cannot be read: " + c.reason),
                  std::string::npos)
            << checked.output;
    }
    // A link inside the package, to a file or a folder holding the listed
    // bytes: the updater holds only a file its path names, and the checker
    // refuses what the updater refuses.
    for (const std::string name : {"data.dat", "sub"}) {
        SCOPED_TRACE(name);
        std::string upd = MakePackage("package_damaged_upd");
        ASSERT_TRUE(Package(upd, kFiles));
        std::string elsewhere = MakeTestDir("package_link_target");
        ASSERT_TRUE(MoveFileA((upd + name).c_str(), (elsewhere + name).c_str()));
        UnixLink link(upd + name, elsewhere + name);
        ASSERT_TRUE(link.Planted());
        std::string file = name == "sub" ? "sub\\deep.dat" : name;
        EXPECT_EQ(RunUnattended(upd, MakeApp("package_damaged_app")).exitCode, 8u);
        EXPECT_TRUE(TraceHas("\tpackage refused - " + file + ": cannot be held")) << ReadFileBytes(TraceLogPath());
        CheckerVerdict checked = VerifyNatively(upd);
        EXPECT_EQ(checked.exitCode, 1) << checked.output;
        EXPECT_NE(checked.output.find(name + (name == "sub" ? "/deep.dat" : "") + ": error: a link on the way"),
                  std::string::npos)
            << checked.output;
    }
}

// In a folder whose names are case-sensitive (Wine's Linux folders are), a
// second file under another spelling of a checked name is never used: the
// script is the manifest's, read through the handle it was checked by, and
// a copy's source is the checked file itself. lumiupd-check refuses such a
// folder, where a program could take either file.
TEST(PackageRuns, ANameInOtherLetterCaseNeverStandsForTheCheckedFile)
{
    std::string upd = MakeUpdateFolder("package_case_upd", CrLf({"id=PKG1", "target=1.1", "copy=data\\new.dat"}));
    ASSERT_TRUE(CreateDirectoryA((upd + "data").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(upd + "data\\NEW.DAT", "checked data"));
    ASSERT_TRUE(Package(upd, {"Lumiupd.INF", "data\\NEW.DAT"}));
    std::string unix = UnixPath(upd);
    std::string evil = MakeTestDir("package_case_evil");
    ASSERT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), (evil + "evil.exe").c_str(), FALSE));
    // Another user's files: the updater renamed in other letter case beside
    // a forged script of that name, and a second data file. Only a Linux
    // program can name them apart.
    ASSERT_TRUE(WriteFileBytes(upd + "forged.tmp", CrLf({"id=EVIL", "target=1.1", "exe=" + evil + "evil.exe"})));
    ASSERT_TRUE(WriteFileBytes(upd + "swapped.tmp", "swapped data"));
    std::string planted = RunNatively("cd '" + unix + "' && mv Lumiupd.exe LUMIUPD.exe && mv forged.tmp LUMIUPD.INF && "
                                      "mv swapped.tmp data/new.dat");
    ASSERT_NE(planted.find("exit 0"), std::string::npos) << planted;
    ASSERT_EQ(ReadFileBytes(upd + "LUMIUPD.INF").substr(0, 7), "id=EVIL");

    std::string app = MakeApp("package_case_app");
    ASSERT_TRUE(CreateDirectoryA((app + "data").c_str(), nullptr));
    RunResult r = RunProgram(upd + "LUMIUPD.exe", "-unattended \"" + app + "\"", {});
    EXPECT_EQ(r.exitCode, 0u) << ReadFileBytes(TraceLogPath());
    EXPECT_EQ(ReadFileBytes(app + "data\\new.dat"), "checked data");
    EXPECT_FALSE(FileExists(evil + "evil.txt")) << "the forged script ran";
    EXPECT_TRUE(TraceHas("\tupdate folder verified - PKG1, 2 files"));

    CheckerVerdict checked = VerifyNatively(upd);
    EXPECT_EQ(checked.exitCode, 1) << checked.output;
    for (const char *name : {"Lumiupd.INF", "data/NEW.DAT"})
        EXPECT_NE(checked.output.find(std::string(name) + ": error: another entry has this name in other letter case"),
                  std::string::npos)
            << name << "\n" << checked.output;
    RunNatively("rm -f '" + unix + "LUMIUPD.INF' '" + unix + "data/new.dat'");
}

// Every route by which code the package does not list could run with the
// updater's rights, taken at once: a plug-in and a staged program start
// reg.exe by its bare name, a staged .bat calls reg, a staged program loads
// a library by name from its current folder, and a plug-in's import the
// package does not ship lies at the update folder's top. The updater is
// started from the update folder, as a double click starts it. Packaged,
// none of the planted files runs (the last plug-in cannot load at all);
// the same folder without a manifest runs them, so the case can fail.
TEST(PackageRuns, NothingUnlistedRunsWithTheUpdatersRights)
{
    auto make = [](const std::string &name) {
        std::string upd = MakeUpdateFolder(
            name, CrLf({"id=PKG1", "target=1.1", "dll=data.dat,lumiplugin.dll,StartReg", "exe=CONVERT.EXE,start:reg.exe",
                        "exe=conv.bat", "exe=PROBE.EXE,ntmarta.dll", "dll=data.dat,plugins\\lumideps.dll,CallCompanion"}));
        EXPECT_TRUE(CreateDirectoryA((upd + "plugins").c_str(), nullptr));
        EXPECT_TRUE(CopyFileA((BinDir() + "lumiplugin.dll").c_str(), (upd + "lumiplugin.dll").c_str(), FALSE));
        EXPECT_TRUE(CopyFileA((BinDir() + "lumideps.dll").c_str(), (upd + "plugins\\lumideps.dll").c_str(), FALSE));
        EXPECT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), (upd + "CONVERT.EXE").c_str(), FALSE));
        EXPECT_TRUE(CopyFileA((BinDir() + "dllprobe.exe").c_str(), (upd + "PROBE.EXE").c_str(), FALSE));
        EXPECT_TRUE(WriteFileBytes(upd + "conv.bat", "@reg query HKLM\\Software\\Kevrani >NUL 2>&1\r\n@exit 0\r\n"));
        EXPECT_TRUE(WriteFileBytes(upd + "data.dat", "data"));
        return upd;
    };
    // What another user puts in the folder: a reg.exe that leaves reg.txt
    // beside itself, a library under a system name, the plug-in's companion.
    auto plant = [](const std::string &upd) {
        EXPECT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), (upd + "reg.exe").c_str(), FALSE));
        EXPECT_TRUE(CopyFileA((BinDir() + "lumicompanion.dll").c_str(), (upd + "lumicompanion.dll").c_str(), FALSE));
        EXPECT_TRUE(PlantDlls(upd, {"ntmarta.dll"}));
    };
    std::string upd = make("package_routes_upd");
    ASSERT_TRUE(Package(upd, {"Lumiupd.INF", "CONVERT.EXE", "PROBE.EXE", "conv.bat", "data.dat", "lumiplugin.dll",
                              "plugins\\lumideps.dll"}));
    plant(upd);
    ClearMarkers();
    FILETIME started;
    GetSystemTimeAsFileTime(&started);
    // The destination and the result file named from the folder the updater
    // was started in, which its copy leaves.
    MakeApp("package_routes_app");
    RunResult r = RunProgramFrom(upd + "Lumiupd.exe", "-unattended -result=routes.json ..\\package_routes_app", {},
                                 {upd, ""});
    EXPECT_EQ(r.exitCode, 4u) << ReadFileBytes(TraceLogPath());
    EXPECT_NE(ReadFileBytes(upd + "routes.json").find("\"exitCode\": 4,"), std::string::npos);
    EXPECT_TRUE(TraceHas("\t\tbox not shown (answer OK): 'plugins\\lumideps.dll'の読み込みに失敗しました。"));
    EXPECT_FALSE(FileExists(upd + "reg.txt")) << ReadFileBytes(upd + "reg.txt");
    EXPECT_TRUE(Markers().empty()) << BoxTexts(r);
    // The staged programs did run, from their copies.
    EXPECT_FALSE(StagedFile("CONVERT.txt", started).empty());
    std::string probe = ReadFileBytes(StagedFile("PROBE.txt", started));
    EXPECT_NE(probe.find("ntmarta.dll "), std::string::npos) << probe;
    EXPECT_EQ(probe.find(upd), std::string::npos) << probe;

    std::string plain = make("package_routes_plain");
    plant(plain);
    ClearMarkers();
    r = RunProgramFrom(plain + "Lumiupd.exe", "-unattended \"" + MakeApp("package_routes_app") + "\"", {}, {plain, ""});
    EXPECT_EQ(r.exitCode, 0u) << ReadFileBytes(TraceLogPath());
    EXPECT_TRUE(FileExists(plain + "reg.txt"));
    std::map<std::string, std::string> markers = Markers();
    EXPECT_EQ(markers["ntmarta.dll@PROBE.EXE"], plain + "ntmarta.dll");
    EXPECT_EQ(markers["lumicompanion.dll@Lumiupd.exe"], plain + "lumicompanion.dll");
}

std::string WindowsTemp()
{
    char windows[MAX_PATH];
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + "\\Temp\\";
}

// Processes running the given program file name (any folder), by id.
std::vector<DWORD> ProcessesNamed(const char *name)
{
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, name) == 0)
            found.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

// A run killed while its program runs takes its staged copy along (the
// copy runs in a job that ends with the updater) and leaves its stage
// behind; the next packaged run clears that and other stale stages of the
// updater's own pattern, but not one a live run holds, nothing of another
// name, and nothing a link inside leads to.
TEST(PackageRuns, ALaterRunClearsWhatKilledRunsLeftInTheStage)
{
    std::string upd = MakeUpdateFolder("package_killed_upd",
                                       CrLf({"id=PKG1", "target=1.1", "exe=CONVERT.EXE,sleep:30000"}));
    ASSERT_TRUE(CopyFileA((BinDir() + "recorder.exe").c_str(), (upd + "CONVERT.EXE").c_str(), FALSE));
    ASSERT_TRUE(Package(upd, {"Lumiupd.INF", "CONVERT.EXE"}));
    std::string app = MakeApp("package_killed_app");
    std::string line = "\"" + upd + "Lumiupd.exe\" -unattended \"" + app + "\"";
    DeleteFileA(TraceLogPath().c_str());
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    for (int i = 0; i < 600 && ReadFileBytes(TraceLogPath()).find("ShellExecuteEx = 1") == std::string::npos; i++)
        Sleep(50);
    TerminateProcess(pi.hProcess, 9);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (int i = 0; i < 100 && !ProcessesNamed("Lumiupd.exe").empty(); i++)
        Sleep(50);
    EXPECT_TRUE(ProcessesNamed("Lumiupd.exe").empty()) << "the staged copy outlived the updater that started it";
    // The program it started is not the job's: it runs on, and is ended here.
    for (DWORD pid : ProcessesNamed("CONVERT.EXE")) {
        HANDLE program = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        TerminateProcess(program, 9);
        WaitForSingleObject(program, 5000);
        CloseHandle(program);
    }
    std::vector<std::string> left;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((WindowsTemp() + "~lu*.tmp").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        if (FileExists(WindowsTemp() + found.cFileName + "\\Lumiupd.exe"))
            left.push_back(WindowsTemp() + found.cFileName + "\\");
    FindClose(search);
    ASSERT_EQ(left.size(), 1u) << "the killed run's stage";

    // Earlier runs' stages as a sweep may meet them.
    std::string stale = WindowsTemp() + "~lu0123456789ABCDEF.tmp\\", live = WindowsTemp() + "~luFEDCBA9876543210.tmp\\",
                other = WindowsTemp() + "~lu-not-a-stage.tmp\\", linked = WindowsTemp() + "~lu1111111111111111.tmp\\",
                victim = MakeTestDir("package_killed_victim");
    for (const std::string &folder : {stale, stale + "sub\\", live, other, linked})
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    for (const std::string &file : {stale + "plugin.dll", stale + "sub\\data.dat", live + "plugin.dll",
                                    other + "plugin.dll", victim + "kept.dat"})
        ASSERT_TRUE(WriteFileBytes(file, "left")) << file;
    UnixLink link(linked + "kept.dat", victim + "kept.dat");
    UnixLink folderLink(WindowsTemp() + "~lu2222222222222222.tmp", victim.substr(0, victim.size() - 1));
    ASSERT_TRUE(link.Planted() && folderLink.Planted());
    HANDLE held = CreateFileA(live.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    std::string next = MakePackage("package_killed_next");
    ASSERT_TRUE(Package(next, kFiles));
    RunResult r = RunUnattended(next, MakeApp("package_killed_app"));
    EXPECT_EQ(r.exitCode, 0u) << ReadFileBytes(TraceLogPath());
    EXPECT_FALSE(FileExists(left[0])) << left[0];
    EXPECT_FALSE(FileExists(stale));
    EXPECT_TRUE(FileExists(live + "plugin.dll"));
    EXPECT_TRUE(FileExists(other + "plugin.dll"));
    EXPECT_EQ(ReadFileBytes(victim + "kept.dat"), "left");
    EXPECT_TRUE(FileExists(linked));
    CloseHandle(held);
    RemoveTree(live);
    RemoveTree(other);
    RunNatively("rm -rf '" + UnixPath(linked) + "'");
}

// A stage that does not fit on its drive refuses the run with 7 before
// anything changes: the system's Temp folder is made a small disk here.
TEST(PackageRuns, AStageThatDoesNotFitRefusesTheRun)
{
    std::string upd = MakePackage("package_nofit_upd");
    ASSERT_TRUE(WriteFileBytes(upd + "big.dat", std::string(256 * 1024, 'b')));
    ASSERT_TRUE(Package(upd, {"Lumiupd.INF", "CONVERT.EXE", "big.dat", "data.dat", "lumiplugin.dll", "sub\\deep.dat"}));
    std::string app = MakeApp("package_nofit_app");
    TreeState before = ReadTree(app);
    std::string temp = UnixPath(WindowsTemp());
    size_t room = ReadFileBytes(upd + "Lumiupd.exe").size() + 64 * 1024;
    std::string mounted = RunNatively("mount -t tmpfs -o size=" + std::to_string(room) + " tmpfs '" + temp + "'");
    if (mounted.find("exit 0") == std::string::npos)
        GTEST_SKIP() << "no tmpfs can be mounted here: " << mounted;
    RunResult r = RunUnattended(upd, app);
    RunNatively("umount '" + temp + "' || umount -l '" + temp + "'");
    EXPECT_EQ(r.exitCode, 7u) << ReadFileBytes(TraceLogPath());
    std::vector<std::string> lines = TraceLines();
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[5].rfind("\tstage does not fit - ", 0), 0u) << lines[5];
    EXPECT_EQ(TreeChanges(before, ReadTree(app)), std::vector<std::string>{});
}

// A manifest holds as many files as the package has: 5 000 small files,
// laid out natively (where it takes a moment), packaged and verified by the
// real packer and checker, and run.
TEST(PackageRuns, AManifestOfFiveThousandFiles)
{
    std::string upd =
        MakeUpdateFolder("package_many_upd", CrLf({"id=MANY", "target=1.1", "copy=data\\f0000.dat", "copy=data\\f4999.dat"}));
    std::string unix = UnixPath(upd), checker = "'" + UnixPath(BinDir() + "lumiupd-check") + "'";
    std::string made = RunNatively("cd '" + unix + "' && mkdir data && for i in $(seq -w 0 4999); do printf \"file $i\" "
                                   ">data/f$i.dat; done && " + checker + " --write-manifest '" + unix + "'");
    ASSERT_NE(made.find("manifest written"), std::string::npos) << made;
    CheckerVerdict checked = VerifyNatively(upd);
    EXPECT_EQ(checked.exitCode, 0) << checked.output;
    EXPECT_NE(checked.output.find("the folder matches the manifest (5001 files)"), std::string::npos) << checked.output;
    std::string app = MakeApp("package_many_app");
    ASSERT_TRUE(CreateDirectoryA((app + "data").c_str(), nullptr));
    RunResult r = RunUnattended(upd, app);
    EXPECT_EQ(r.exitCode, 0u) << ReadFileBytes(TraceLogPath());
    EXPECT_TRUE(TraceHas("\tupdate folder verified - MANY, 5001 files"));
    EXPECT_EQ(ReadFileBytes(app + "data\\f4999.dat"), "file 4999");
}

} // namespace
