// DLLs planted beside the updater, in its current folder and on PATH, under
// the names of libraries that the updater, the common controls and the shell
// load on demand: none of them may ever be loaded by the updater.
#include "base/messages.h"
#include "discovery_browse.h"
#include "hardening_util.h"
#include "installed.h"

#include <shlobj.h>

#include <memory>

#include <gtest/gtest.h>

namespace {

// Names of system libraries that are loaded on demand (by the updater, the
// common controls, the shell, COM and the loader) rather than imported.
// shcore.dll is shlwapi's import: Wine would take it from the application
// folder if shlwapi were imported at start.
const std::vector<std::string> kSystemLike = {
    "shcore.dll", "version.dll", "uxtheme.dll", "dwmapi.dll", "cryptbase.dll", "profapi.dll", "propsys.dll",
    "ntmarta.dll", "secur32.dll", "userenv.dll", "sspicli.dll", "winmm.dll", "oleacc.dll", "msimg32.dll",
    "riched20.dll", "apphelp.dll", "linkinfo.dll", "wtsapi32.dll", "cryptsp.dll", "bcrypt.dll",
    "rsaenh.dll", "msctf.dll", "usp10.dll", "windowscodecs.dll", "explorerframe.dll", "ntshrui.dll",
    "cscapi.dll", "srvcli.dll", "netapi32.dll", "mpr.dll", "kernel.appcore.dll", "powrprof.dll",
    "umpdc.dll", "edputil.dll", "iertutil.dll", "urlmon.dll", "wininet.dll", "dbghelp.dll", "wer.dll",
    "cfgmgr32.dll", "devobj.dll", "dhcpcsvc.dll", "winsta.dll", "mswsock.dll", "duser.dll", "dui70.dll",
    "sxs.dll", "textinputframework.dll",
};

const char kProgress[] = "処理中です...";
const char kKakunin[] = "ルミテルを更新します。";

std::string Describe(const std::map<std::string, std::string> &markers)
{
    std::string text;
    for (const auto &m : markers)
        text += m.first + " from " + m.second + "\n";
    return text;
}

// Markers left by the updater itself.
std::map<std::string, std::string> UpdaterMarkers()
{
    std::map<std::string, std::string> own;
    const std::string updater = "@Lumiupd.exe";
    for (const auto &m : Markers()) {
        if (m.first.size() > updater.size() &&
            m.first.compare(m.first.size() - updater.size(), updater.size(), updater) == 0)
            own.insert(m);
    }
    return own;
}

bool Copy(const std::string &from, const std::string &to)
{
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
}

std::string DesktopLink(int csidl, const std::string &name)
{
    char folder[MAX_PATH] = "";
    if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, folder)))
        return "";
    return std::string(folder) + "\\" + name + ".lnk";
}

class DllPlanting : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
        ClearMarkers();
    }
    void TearDown() override
    {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
        ClearMarkers();
    }

    // An update folder with the planted DLLs beside the updater and a few
    // new files; the installed copy has a recorder for the "exe" command.
    void MakeFolders(const std::string &name, const std::vector<std::string> &commands)
    {
        app = MakeInstalledFolder(name + "_app", "1.10");
        ASSERT_FALSE(app.empty());
        ASSERT_TRUE(Copy(BinDir() + "recorder.exe", app + "recorder.exe"));
        std::vector<std::string> script = {"id=PLANT", std::string("kakunin=") + kKakunin, "target=1.1"};
        script.insert(script.end(), commands.begin(), commands.end());
        upd = MakeUpdateFolder(name + "_upd", CrLf(script));
        ASSERT_TRUE(WriteFileBytes(upd + "MIRO42.DLL", "new library"));
        ASSERT_TRUE(CreateDirectoryA((upd + "data").c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(upd + "data\\new.dat", "new data"));
        ASSERT_TRUE(CreateDirectoryA((upd + "sub").c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(upd + "sub\\extra.dat", "extra"));
        ASSERT_TRUE(Copy(BinDir() + "lumiplugin.dll", upd + "lumiplugin.dll"));
        ASSERT_TRUE(PlantDlls(upd, kSystemLike));
    }

    std::string app, upd;
};

// The test can fail: a program that loads by name without the restriction
// picks up what lies beside it, and the updater's restriction keeps it out.
TEST_F(DllPlanting, ALoadWithoutTheRestrictionTakesThePlantedLibrary)
{
    std::string dir = MakeTestDir("plant_probe");
    ASSERT_TRUE(Copy(BinDir() + "dllprobe.exe", dir + "dllprobe.exe"));
    ASSERT_TRUE(PlantDlls(dir, {"cryptbase.dll", "dwmapi.dll", "profapi.dll"}));

    RunResult plain = RunProgram(dir + "dllprobe.exe", "cryptbase.dll dwmapi.dll profapi.dll", {});
    ASSERT_EQ(plain.exitCode, 0u);
    std::map<std::string, std::string> markers = Markers();
    EXPECT_EQ(markers["cryptbase.dll@dllprobe.exe"], dir + "cryptbase.dll") << Describe(markers);
    EXPECT_EQ(markers["dwmapi.dll@dllprobe.exe"], dir + "dwmapi.dll") << Describe(markers);
    EXPECT_EQ(markers["profapi.dll@dllprobe.exe"], dir + "profapi.dll") << Describe(markers);

    ClearMarkers();
    RunResult restricted = RunProgram(dir + "dllprobe.exe", "restricted cryptbase.dll dwmapi.dll profapi.dll", {});
    ASSERT_EQ(restricted.exitCode, 0u);
    EXPECT_TRUE(Markers().empty()) << Describe(Markers());
    std::string record = ReadFileBytes(dir + "dllprobe.txt");
    EXPECT_NE(record.find("cryptbase.dll missing"), std::string::npos) << record;
    EXPECT_EQ(record.find(dir), std::string::npos) << record;
}

// Started from its own folder (as a double click does), the updater goes
// through every dialog it has: the question, the progress dialog, a copy
// failure prompt, a plug-in, a program, a shortcut, the history and the
// closing box; a second run ends at a plug-in's message box.
TEST_F(DllPlanting, RunsWithEveryDialogLoadNothingPlanted)
{
    MakeFolders("plant_full", {"copy=MIRO42.DLL", "create=data", "copy=data\\new.dat", "copy=sub\\extra.dat",
                               "dll=plug.dat,lumiplugin.dll,RecordPaths", "exe=%DSTPATH%recorder.exe,code:0",
                               "shortcut=%DESKTOP%LumiPlanting,MIRO42.DLL", "log=2024/planting"});
    RunOptions options;
    options.answers = {{IDYES}, {IDIGNORE}, {IDOK}};
    RunResult r = RunProgramFrom(upd + "Lumiupd.exe", "\"" + app + "\"", options, {upd, upd});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << BoxTexts(r);
    ASSERT_EQ(r.boxes.size(), 3u) << BoxTexts(r);
    EXPECT_EQ(r.boxes[0].text, kKakunin);
    EXPECT_EQ(r.boxes[1].icon, ICON_WARNING);
    EXPECT_EQ(r.boxes[2].text, MessageTable[0]);
    EXPECT_TRUE(ShowedDialog(r, kProgress));
    // Every command did its work.
    EXPECT_EQ(ReadFileBytes(app + "MIRO42.DLL"), "new library");
    EXPECT_EQ(ReadFileBytes(app + "plug.dat"), upd + "plug.dat\r\n" + app + "plug.dat\r\n");
    EXPECT_TRUE(FileExists(app + "recorder.txt"));
    EXPECT_TRUE(FileExists(app + "update.log"));
    std::string links[] = {DesktopLink(CSIDL_COMMON_DESKTOPDIRECTORY, "LumiPlanting"),
                           DesktopLink(CSIDL_DESKTOPDIRECTORY, "LumiPlanting")};
    EXPECT_TRUE(FileExists(links[0]) || FileExists(links[1]));
    for (const std::string &link : links)
        DeleteFileA(link.c_str());
    EXPECT_TRUE(UpdaterMarkers().empty()) << Describe(Markers());

    MakeFolders("plant_fail", {"copy=MIRO42.DLL", "dll=x.dat,lumiplugin.dll,StatusMinus1"});
    options.answers = {{IDYES}, {IDOK}, {IDOK}};
    r = RunProgramFrom(upd + "Lumiupd.exe", "\"" + app + "\"", options, {upd, upd});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 4u) << BoxTexts(r);
    ASSERT_EQ(r.boxes.size(), 3u) << BoxTexts(r);
    EXPECT_EQ(r.boxes[1].text, "'" + app + "x.dat'の更新に失敗しました。");
    EXPECT_EQ(r.boxes[1].icon, ICON_ERROR);
    EXPECT_EQ(r.boxes[2].text, MessageTable[4]);
    EXPECT_TRUE(UpdaterMarkers().empty()) << Describe(Markers());
}

// No installed copy is registered: the updater asks, the shell's folder
// browser is shown and the chosen folder is updated.
TEST_F(DllPlanting, RunThroughTheFolderBrowserLoadsNothingPlanted)
{
    MakeFolders("plant_browse", {"copy=MIRO42.DLL"});
    auto driver = std::make_shared<std::unique_ptr<BrowseDriver>>();
    std::string chosen = app.substr(0, app.size() - 1);
    RunOptions options;
    options.answers = {{IDYES}, {IDYES}, {IDOK}};
    options.otherDialogs = [driver, chosen](HWND dlg) {
        DWORD pid = 0;
        GetWindowThreadProcessId(dlg, &pid);
        if (!*driver)
            *driver = std::make_unique<BrowseDriver>(pid, std::vector<BrowseStep>{{chosen, IDOK}});
        return (*driver)->Handle(dlg);
    };
    RunResult r = RunProgramFrom(upd + "Lumiupd.exe", "", options, {upd, upd});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << BoxTexts(r);
    ASSERT_TRUE(*driver) << "no folder browser was shown";
    ASSERT_EQ((*driver)->Seen().size(), 1u);
    EXPECT_TRUE((*driver)->Seen()[0].titleShown);
    ASSERT_EQ(r.boxes.size(), 3u) << BoxTexts(r);
    EXPECT_EQ(r.boxes[0].text, std::string(MessageTable[3]) + "自分で指定しますか？");
    EXPECT_EQ(r.boxes[2].text, MessageTable[0]);
    EXPECT_EQ(ReadFileBytes(app + "MIRO42.DLL"), "new library");
    EXPECT_TRUE(UpdaterMarkers().empty()) << Describe(Markers());
}

// A "dll" command naming a library that is not in the update folder: copies
// of it in the current folder and on PATH, where a plain load would look,
// are never loaded; only the system's places are searched.
TEST_F(DllPlanting, PlugInNotInTheUpdateFolderComesOnlyFromTheSystem)
{
    std::string current = MakeTestDir("plant_current");
    std::string onPath = MakeTestDir("plant_onpath");
    ASSERT_TRUE(PlantDlls(current, {"ntmarta.dll"}));
    ASSERT_TRUE(PlantDlls(onPath, {"profapi.dll"}));
    StartPlace place = {current, onPath.substr(0, onPath.size() - 1)};

    // Where a plain load looks, they are found.
    std::string probe = MakeTestDir("plant_probe_elsewhere");
    ASSERT_TRUE(Copy(BinDir() + "dllprobe.exe", probe + "dllprobe.exe"));
    RunResult control = RunProgramFrom(probe + "dllprobe.exe", "ntmarta.dll profapi.dll", {}, place);
    ASSERT_EQ(control.exitCode, 0u);
    std::map<std::string, std::string> markers = Markers();
    EXPECT_EQ(markers["ntmarta.dll@dllprobe.exe"], current + "ntmarta.dll") << Describe(markers);
    EXPECT_EQ(markers["profapi.dll@dllprobe.exe"], onPath + "profapi.dll") << Describe(markers);

    for (std::string dll : {"ntmarta.dll", "profapi.dll"}) {
        SCOPED_TRACE(dll);
        ClearMarkers();
        app = MakeInstalledFolder("plant_nothere_app", "1.10");
        upd = MakeUpdateFolder("plant_nothere_upd",
                               CrLf({"id=PLANT", "target=1.1", "dll=x.dat," + dll + ",PlantedEntry"}));
        RunOptions options;
        options.answers = {{IDOK}, {IDOK}};
        RunResult r = RunProgramFrom(upd + "Lumiupd.exe", "\"" + app + "\"", options, place);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 4u) << BoxTexts(r);
        ASSERT_EQ(r.boxes.size(), 2u) << BoxTexts(r);
        EXPECT_EQ(r.boxes[0].text, "'" + dll + "'の読み込みに失敗しました。");
        EXPECT_EQ(r.boxes[1].text, MessageTable[4]);
        EXPECT_TRUE(Markers().empty()) << Describe(Markers());
    }
}

// A plug-in named by a bare name or a relative path is the update folder's,
// whatever folder the updater was started from; a plug-in's own companion
// DLL is found beside it, not beside the updater nor in the current folder;
// a helper it loads by name while it runs is found in the update folder.
TEST_F(DllPlanting, PlugInsAndTheirCompanionsComeFromTheUpdateFolder)
{
    MakeFolders("plant_own", {"dll=rec.dat,lumiplugin.dll,RecordPaths", "dll=dep.dat,plugins\\lumideps.dll,CallCompanion",
                              "dll=help.dat,lumiplugin.dll,LoadHelper"});
    ASSERT_TRUE(PlantDlls(upd, {"lumihelper.dll"}));
    ASSERT_TRUE(CreateDirectoryA((upd + "plugins").c_str(), nullptr));
    ASSERT_TRUE(Copy(BinDir() + "lumideps.dll", upd + "plugins\\lumideps.dll"));
    ASSERT_TRUE(Copy(BinDir() + "lumicompanion.dll", upd + "plugins\\lumicompanion.dll"));
    ASSERT_TRUE(PlantDlls(upd, {"lumicompanion.dll"}));
    std::string current = MakeTestDir("plant_own_current");
    ASSERT_TRUE(PlantDlls(current, {"lumiplugin.dll", "lumicompanion.dll", "lumideps.dll", "lumihelper.dll"}));

    RunOptions options;
    options.answers = {{IDYES}, {IDOK}};
    RunResult r = RunProgramFrom(upd + "Lumiupd.exe", "\"" + app + "\"", options, {current, current});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u) << BoxTexts(r);
    EXPECT_EQ(ReadFileBytes(app + "rec.dat"), upd + "rec.dat\r\n" + app + "rec.dat\r\n");
    std::map<std::string, std::string> markers = Markers();
    EXPECT_EQ(markers.size(), 2u) << Describe(markers);
    EXPECT_EQ(markers["lumicompanion.dll@Lumiupd.exe"], upd + "plugins\\lumicompanion.dll") << Describe(markers);
    EXPECT_EQ(markers["lumihelper.dll@Lumiupd.exe"], upd + "lumihelper.dll") << Describe(markers);
}

} // namespace
