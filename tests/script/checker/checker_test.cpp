// LumiupdCheck run as a real process on real script files: every finding,
// the update folder, the summary and the exit codes.
#include "checkercases.h"
#include "checkrun.h"
#include "scripttest.h"
#include "testutil.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Findings(const CheckRun &run)
{
    return run.Findings(run.folder);
}

void CheckCases(int exitCode)
{
    int checked = 0;
    for (const CheckerCase &c : CheckerCases()) {
        if (c.exitCode != exitCode)
            continue;
        SCOPED_TRACE(c.name);
        checked++;
        CheckRun run = CheckScriptBytes("checker_case", c.script);
        ASSERT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, (DWORD)c.exitCode) << run.output;
        EXPECT_EQ(Findings(run), c.findings) << run.output;
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines.back().rfind(exitCode ? "RESULT: refused at line " : "RESULT: accepted (", 0), 0u)
            << run.lines.back();
        EXPECT_EQ(run.Starting("SUMMARY").size(), exitCode ? 0u : 1u) << "a summary only of what the updater runs";
    }
    EXPECT_GT(checked, 3);
}

TEST(ScriptChecker, ScriptsTheUpdaterRefusesGiveErrorsForEveryBadLine)
{
    CheckCases(1);
}

TEST(ScriptChecker, ScriptsTheUpdaterAcceptsGiveWarningsForWhatItIgnoresOrChanges)
{
    CheckCases(0);
}

TEST(ScriptChecker, ResultLineNamesTheFirstRefusedLineAndTheCounts)
{
    CheckRun run = CheckScriptBytes("checker_result", ResultScripts()[0]);
    ASSERT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.lines.back(),
              "RESULT: refused at line 2: the updater shows \"設定ファイルの読み込みに失敗しました。\" and ends with "
              "code 2 (2 errors, 1 warning)");
    CheckRun good = CheckScriptBytes("checker_result", ResultScripts()[1]);
    ASSERT_EQ(good.exitCode, 0u);
    EXPECT_EQ(good.lines.back(), "RESULT: accepted (0 errors, 0 warnings)");
}

TEST(ScriptChecker, SummaryShowsWhatTheScriptDoesAsExpandedHere)
{
    CheckRun run = CheckScriptBytes("checker_summary", SummaryScript());
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    std::vector<std::string> expected = {
        "SUMMARY",
        "  id:                U0200",
        "  question:          更新します。",
        "                     よろしいですか？",
        "  accepted versions:",
        "                     1.1 (text starting with \"1.1\")",
        "                     -1.5 (number 1.5 or less)",
        "                     2.0- (number 2 or more)",
        "                     (empty: every copy whose RT_IDX.DAT can be read)",
        "  install folder:    " + ExpectedExpansion(-1, "Kevrani\\ルミテル\\"),
        "  success text:      完了",
        "  post program:      " + DesktopPath("run.exe"),
        "  commands, in each destination in this order:",
        "    1. line 8: copy MIRO42.DLL",
        "    2. line 10: remove OLD.DAT",
        "    3. line 11: dll data\\NEW.DAT: call ConvertData in UPDHELP.DLL",
        "    4. line 12: exe CONVERT.EXE with parameters \"/in \"%DSTPATH%data\"\"",
        "    5. line 13: exe SETUP.EXE without parameters",
        "    6. line 14: shortcut " + DesktopPath("ルミテル") + ".lnk to LUMI.EXE in the destination",
        "    7. line 15: log \"2026年12月/データ更新\"",
        "    8. line 16: create data",
        "RESULT: accepted (0 errors, 1 warning)",
    };
    auto start = std::find(run.lines.begin(), run.lines.end(), "SUMMARY");
    ASSERT_NE(start, run.lines.end()) << run.output;
    EXPECT_EQ(std::vector<std::string>(start, run.lines.end()), expected);
    EXPECT_EQ(Findings(run), std::vector<std::string>({"Lumiupd.INF:4: warning: empty target pattern (\"target=\" "
                                                        "or a \";\" at an end): it accepts every installed copy "
                                                        "whose RT_IDX.DAT can be read\n    target=2.0-;"}));
}

TEST(ScriptChecker, SummaryOfAnEmptyScriptSaysWhatIsMissing)
{
    CheckRun run = CheckScriptBytes("checker_empty", ResultScripts()[2]);
    ASSERT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.Has("  id:                (none)"));
    EXPECT_TRUE(run.Has("  accepted versions: (none: no installed copy passes the version check)"));
    EXPECT_TRUE(run.Has("  commands, in each destination in this order: (none)"));
    EXPECT_EQ(run.Starting(run.folder + "Lumiupd.INF: warning: no ").size(), 2u) << run.output;
}

TEST(ScriptChecker, UpdateFolderMissingAndUnusedFiles)
{
    std::string script = FolderScript();
    FolderFiles files = {{"Lumiupd.exe", "MZ"},        {"MIRO42.DLL", "12345"}, {"data\\NEW.DAT", "new"},
                         {"CONVERT.EXE", "MZ"},        {"unused.txt", "u"},     {"sub\\deep\\extra.bin", "xx"},
                         {"ソフト\\表.dat", "s"},       {"plug\\in.dll", "p"}};
    std::string dir = WriteScriptFolder("checker_folder", script, files);
    // Folder links are named and not looked into: a loop would never end,
    // and another user's folder is not the checker's to list.
    std::string away = MakeTestDir("checker_folder_away");
    ASSERT_TRUE(WriteFileBytes(away + "far.bin", "far"));
    UnixLink loop(dir + "sub\\loop", dir), elsewhere(dir + "elsewhere", away);
    ASSERT_TRUE(loop.Planted() && elsewhere.Planted());
    CheckRun run = RunChecker("\"" + dir + "Lumiupd.INF\" \"" + dir.substr(0, dir.size() - 1) + "\"");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    std::vector<std::string> found = run.Findings(dir);
    ASSERT_GE(found.size(), 4u) << run.output;
    EXPECT_EQ(std::vector<std::string>(found.begin(), found.begin() + 4),
              std::vector<std::string>({
                  "Lumiupd.INF:6: warning: file \"missing.dat\" is missing from the update folder\n    copy=missing.dat",
                  "Lumiupd.INF:7: warning: file \"data\" is a folder in the update folder, not a file\n    copy=data",
                  "Lumiupd.INF:10: warning: plug-in \"UPDHELP.DLL\" is missing from the update folder\n    "
                  "dll=data\\NEW.DAT,UPDHELP.DLL,Convert",
                  "Lumiupd.INF:13: warning: program \"tools\\run.exe\" is missing from the update folder\n    "
                  "exe=tools\\run.exe",
              }));
    std::vector<std::string> folder(found.begin() + 4, found.end());
    std::sort(folder.begin(), folder.end());
    EXPECT_EQ(folder, std::vector<std::string>({
                          "Lumiupd.INF: note: the script (it counts in the disk-space check)",
                          "Lumiupd.exe: note: the updater that reads this script (it counts in the disk-space check)",
                          "elsewhere: warning: a link to a folder (junction or symbolic link): not looked into; the "
                          "updater's disk-space check passes it over too",
                          "sub\\deep\\extra.bin: warning: no command uses this file; it still counts in the "
                          "disk-space check",
                          "sub\\loop: warning: a link to a folder (junction or symbolic link): not looked into; the "
                          "updater's disk-space check passes it over too",
                          "unused.txt: warning: no command uses this file; it still counts in the disk-space check",
                      }));
    size_t total = script.size() + 2 + 5 + 3 + 2 + 1 + 2 + 1 + 1;
    EXPECT_TRUE(run.Has("  update folder:    9 files, " + std::to_string(total) +
                        " bytes (the disk-space check wants up to that much free on each destination drive)"))
        << run.output;
}

TEST(ScriptChecker, UpdateFolderWithoutTheScriptOrAnUpdaterOfItsName)
{
    std::string scriptDir = WriteScriptFolder("checker_scriptonly", "");
    std::string setup = scriptDir + "setup.INF";
    ASSERT_TRUE(WriteFileBytes(setup, ScriptBesideAnotherFolder()));
    std::string dir = WriteScriptFolder("checker_otherfolder", "", {{"Lumiupd.exe", "MZ"}, {"MIRO42.DLL", "d"}});
    DeleteFileA((dir + "Lumiupd.INF").c_str());
    CheckRun run = RunChecker("\"" + setup + "\" " + dir);
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    std::vector<std::string> folder = run.Findings(dir);
    std::sort(folder.begin(), folder.end());
    EXPECT_EQ(folder,
              std::vector<std::string>({
                  "Lumiupd.exe: warning: no command uses this file; it still counts in the disk-space check",
                  "setup.INF: warning: the script is not in the update folder: the updater reads the script beside it",
                  "setup.exe: note: no updater of this name in the update folder (make package puts it in): an "
                  "updater reads only the script named after itself",
              }));
}

TEST(ScriptChecker, NothingToCheckEndsWithCode2)
{
    std::string dir = MakeTestDir("checker_missing");
    CheckRun missing = RunChecker("\"" + dir + "none.INF\"");
    EXPECT_EQ(missing.exitCode, 2u);
    EXPECT_EQ(missing.lines, std::vector<std::string>({dir + "none.INF: error: the script cannot be opened"}));

    ASSERT_TRUE(WriteFileBytes(dir + "Lumiupd.INF", "id=U1\r\n"));
    CheckRun notFolder = RunChecker("\"" + dir + "Lumiupd.INF\" \"" + dir + "Lumiupd.INF\"");
    EXPECT_EQ(notFolder.exitCode, 2u);
    EXPECT_EQ(notFolder.lines, std::vector<std::string>({dir + "Lumiupd.INF: error: not a folder"}));

    CheckRun usage = RunChecker("");
    EXPECT_EQ(usage.exitCode, 2u);
    EXPECT_TRUE(usage.output.empty());
    EXPECT_EQ(usage.errors.rfind("usage: LumiupdCheck [--strict] SCRIPT [UPDATE_FOLDER]", 0), 0u) << usage.errors;
    for (const char *help : {"-h", "--help", "/?"}) {
        CheckRun asked = RunChecker(help);
        EXPECT_EQ(asked.exitCode, 0u) << help;
        EXPECT_EQ(asked.output.rfind("usage: LumiupdCheck [--strict] SCRIPT [UPDATE_FOLDER]", 0), 0u) << help;
    }
}

// Strict: a warning fails the check too; a clean script still passes.
TEST(ScriptChecker, StrictFailsOnAnyFinding)
{
    std::string dir = MakeTestDir("checker_strict");
    ASSERT_TRUE(WriteFileBytes(dir + "warned.INF", "id=U1\r\ntarget=1.0;\r\n"));
    ASSERT_TRUE(WriteFileBytes(dir + "clean.INF", "id=U1\r\ntarget=1.0\r\n"));
    EXPECT_EQ(RunChecker("\"" + dir + "warned.INF\"").exitCode, 0u);
    EXPECT_EQ(RunChecker("--strict \"" + dir + "warned.INF\"").exitCode, 1u);
    EXPECT_EQ(RunChecker("\"" + dir + "clean.INF\" --strict").exitCode, 0u);
    // A staging folder (no updater yet) and a packaged one (the packer's
    // SHA256SUMS beside the files) are the release engineer's usual folders.
    std::string staging = WriteScriptFolder("checker_strict_staging", ScriptBesideAnotherFolder(),
                                            {{"MIRO42.DLL", "d"}, {"SHA256SUMS", "sums"}});
    CheckRun run =
        RunChecker("--strict \"" + staging + "Lumiupd.INF\" \"" + staging.substr(0, staging.size() - 1) + "\"");
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(run.Starting(staging + "SHA256SUMS: note: ").size(), 1u) << run.output;
}

} // namespace
