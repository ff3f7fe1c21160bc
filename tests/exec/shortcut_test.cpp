// The "shortcut" command: real .lnk files, read back by Debian's lnkinfo.
#include "base/messages.h"
#include "base/tracelog.h"
#include "exec/shortcut.h"
#include "selfrobot.h"
#include "testutil.h"

#include <shlobj.h>

#include <gtest/gtest.h>

namespace {

std::string Utf8(const std::string &ansi)
{
    WCHAR wide[1024];
    char utf8[3072];
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, 1024);
    if (!n || !WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof(utf8), nullptr, nullptr))
        return "";
    return utf8;
}

// lnkinfo's report on a link file, run on the Linux side (Wine starts Unix
// programs too); its output is renamed into place once complete.
std::string LnkInfo(const std::string &link)
{
    std::string out = link + ".info";
    DeleteFileA(out.c_str());
    std::string unixLink = UnixPath(link), unixOut = UnixPath(out);
    if (unixLink.empty() || unixOut.empty())
        return "<no unix path>";
    std::string cmd = "/bin/sh -c \"lnkinfo -c windows-932 '" + unixLink + "' >'" + unixOut + ".part' 2>&1; mv '" +
                      unixOut + ".part' '" + unixOut + "'\"";
    // The Unix paths are UTF-8: the command line goes over as UTF-16.
    std::wstring wide(cmd.size() + 1, L'\0');
    if (!MultiByteToWideChar(CP_UTF8, 0, cmd.c_str(), -1, &wide[0], (int)wide.size()))
        return "<no command line>";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &wide[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return "<lnkinfo not started>";
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (int i = 0; i < 200 && !FileExists(out); i++)
        Sleep(50);
    return ReadFileBytes(out);
}

// The "Local path" that lnkinfo reports (UTF-8), or "" when there is none.
std::string LocalPath(const std::string &info)
{
    size_t at = info.find("\tLocal path");
    if (at == std::string::npos)
        return "";
    size_t colon = info.find(": ", at);
    size_t end = info.find('\n', at);
    return colon < end ? info.substr(colon + 2, end - colon - 2) : "";
}

struct ShortcutRun {
    int result = -1;
    std::vector<DialogRecord> boxes;
    std::vector<std::string> trace;  // Shortcut's own lines, not its helpers'
};

ShortcutRun CallShortcut(const std::string &path, const std::string &folder, const std::string &file)
{
    ShortcutRun run;
    TraceLogStart();
    run.boxes = BoxesDuring([&] { run.result = Shortcut(path.c_str(), folder.c_str(), file.c_str()); });
    for (const std::string &line : TraceLines()) {
        if (line.rfind("\t\t\t[CreateDirectoryAll", 0) != 0 && line.rfind("\t\t\t\t", 0) != 0)
            run.trace.push_back(line);
    }
    return run;
}

std::vector<std::string> EntryLines(const std::string &path, const std::string &folder, const std::string &file)
{
    return {"\t\t[Shortcut]>>", "\t\t\tpath   = " + path, "\t\t\tfolder = " + folder, "\t\t\tfile   = " + file};
}

void ExpectErrorBox(const ShortcutRun &run, const std::string &text)
{
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, CAPTION_ERROR);
    ExpectOkBox(run.boxes[0], text, ICON_ERROR);
}

struct Destination {
    std::string dir;     // the test's own folder
    std::string folder;  // the destination folder, with its backslash
};

Destination MakeDestination(const std::string &name, const std::string &sub = "App")
{
    Destination d;
    d.dir = MakeTestDir(name);
    d.folder = d.dir + sub + "\\";
    CreateDirectoryA(d.folder.c_str(), nullptr);
    CreateDirectoryA((d.folder + "bin").c_str(), nullptr);
    WriteFileBytes(d.folder + "bin\\app.exe", "MZ");
    return d;
}

TEST(Shortcut, MakesALinkToTheTargetInTheDestination)
{
    Destination d = MakeDestination("shortcut_make", "ルミテル");
    std::string path = d.dir + "Links\\ソフト";
    ShortcutRun run = CallShortcut(path, d.folder, "bin\\app.exe");
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.boxes.empty());
    std::vector<std::string> expected = EntryLines(path, d.folder, "bin\\app.exe");
    expected.insert(expected.end(), {"\t\tbResult = 1", "\t\t[Shortcut]<<"});
    EXPECT_EQ(run.trace, expected);

    std::string link = path + ".lnk";
    ASSERT_TRUE(FileExists(link));
    std::string info = LnkInfo(link);
    EXPECT_NE(info.find("Windows Shortcut information"), std::string::npos) << info;
    EXPECT_EQ(LocalPath(info), Utf8(d.folder + "bin\\app.exe")) << info;
}

TEST(Shortcut, DoubleByteNamesWhoseTrailBytesLookLikeMarks)
{
    Destination d = MakeDestination("shortcut_names");
    // ソ ends in 0x5C (backslash), ポ in 0x7C (vertical bar).
    for (const char *name : {"ソフト", "ポイント", "ソ"}) {
        std::string path = d.dir + "表示\\" + name;
        ShortcutRun run = CallShortcut(path, d.folder, "bin\\app.exe");
        EXPECT_EQ(run.result, 1) << name;
        EXPECT_TRUE(run.boxes.empty()) << name;
        EXPECT_TRUE(FileExists(path + ".lnk")) << name;
    }
    // A path ending in a backslash has an empty name: the link is ".lnk".
    ShortcutRun run = CallShortcut(d.dir + "表示\\", d.folder, "bin\\app.exe");
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(FileExists(d.dir + "表示\\.lnk"));
}

TEST(Shortcut, RefusesNamesWithForbiddenCharacters)
{
    Destination d = MakeDestination("shortcut_invalid");
    for (std::string name : {"a.b", "ソフト.lnk", "a/b", "a:b", "a*b", "a\"b", "a<b", "a>b", "a|b", "a?b"}) {
        SCOPED_TRACE(name);
        std::string path = d.dir + "Links\\" + name;
        ShortcutRun run = CallShortcut(path, d.folder, "bin\\app.exe");
        EXPECT_EQ(run.result, 0);
        ExpectErrorBox(run, "ショートカット名が不正です");
        std::vector<std::string> expected = EntryLines(path, d.folder, "bin\\app.exe");
        expected.insert(expected.end(), {"\t\t\tショートカット名に(\\,/,:,*,\",<,>,.,|,?)が含まれています.",
                                         "\t\tbResult = 0", "\t\t[Shortcut]<<"});
        EXPECT_EQ(run.trace, expected);
        EXPECT_FALSE(FileExists(d.dir + "Links")) << "the folder was made before the name test";
    }
}

TEST(Shortcut, MissingTargetLeavesOnlyTheNewFolders)
{
    Destination d = MakeDestination("shortcut_notarget");
    std::string path = d.dir + "a\\b\\c\\d\\Link";
    ShortcutRun run = CallShortcut(path, d.folder, "bin\\absent.exe");
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.boxes.empty());
    std::vector<std::string> expected = EntryLines(path, d.folder, "bin\\absent.exe");
    expected.insert(expected.end(), {"\t\t\tfopen(file_path, \"rb\" ) = NULL", "\t\t\tショートカットは作成しません.",
                                     "\t\tbResult = 1", "\t\t[Shortcut]<<"});
    EXPECT_EQ(run.trace, expected);
    EXPECT_TRUE(FileExists(d.dir + "a\\b\\c\\d"));
    EXPECT_FALSE(FileExists(path + ".lnk"));
}

TEST(Shortcut, ParentSeveralLevelsDeepIsMadeWhole)
{
    Destination d = MakeDestination("shortcut_deep");
    std::string path = d.dir + "1\\2\\3\\4\\5\\スタート\\Link";
    ShortcutRun run = CallShortcut(path, d.folder, "bin\\app.exe");
    EXPECT_EQ(run.result, 1);
    ASSERT_TRUE(FileExists(path + ".lnk"));
    std::string info = LnkInfo(path + ".lnk");
    EXPECT_EQ(LocalPath(info), d.folder + "bin\\app.exe") << info;
}

TEST(Shortcut, ParentThatCannotBeMadeFailsWithItsBox)
{
    Destination d = MakeDestination("shortcut_noparent");
    WriteFileBytes(d.dir + "file", "x");
    std::string path = d.dir + "file\\sub\\Link";
    ShortcutRun run = CallShortcut(path, d.folder, "bin\\app.exe");
    EXPECT_EQ(run.result, 0);
    ExpectErrorBox(run, "ショートカット作成のためのフォルダ作成に失敗しました");
    ASSERT_FALSE(run.trace.empty());
    EXPECT_EQ(run.trace[run.trace.size() - 3], "\t\t\tCreateDirectoryAll(" + d.dir + "file\\sub) = FALSE");
}

// The link written last is the one that remains, as the shell's save leaves
// it: with the old link's hidden and system attributes, and written in place
// where a program holds it sharing writing. A read-only link cannot be
// written: the command fails and says why.
TEST(Shortcut, SecondDestinationReplacesTheLink)
{
    Destination one = MakeDestination("shortcut_two");
    std::string second = one.dir + "Second\\";
    CreateDirectoryA(second.c_str(), nullptr);
    CreateDirectoryA((second + "bin").c_str(), nullptr);
    WriteFileBytes(second + "bin\\app.exe", "MZ");
    std::string path = one.dir + "Link";
    std::string link = path + ".lnk";
    EXPECT_EQ(CallShortcut(path, one.folder, "bin\\app.exe").result, 1);
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(SetFileAttributesA(link.c_str(), kept));
    EXPECT_EQ(CallShortcut(path, second, "bin\\app.exe").result, 1);
    std::string info = LnkInfo(link);
    EXPECT_EQ(LocalPath(info), second + "bin\\app.exe") << info;
    EXPECT_EQ(GetFileAttributesA(link.c_str()) & kept, kept);

    HANDLE holder = CreateFileA(link.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CallShortcut(path, one.folder, "bin\\app.exe").result, 1);
    CloseHandle(holder);
    info = LnkInfo(link);
    EXPECT_EQ(LocalPath(info), one.folder + "bin\\app.exe") << info;

    ASSERT_TRUE(SetFileAttributesA(link.c_str(), FILE_ATTRIBUTE_READONLY));
    ShortcutRun run = CallShortcut(path, second, "bin\\app.exe");
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.boxes.empty());
    std::string denied = SystemText(ERROR_ACCESS_DENIED);
    ASSERT_GE(run.trace.size(), 3u);
    EXPECT_EQ(run.trace[run.trace.size() - 3].rfind("\t\t\tショートカットを書き込めません - " +
                                                       denied.substr(0, denied.find_last_not_of("\r\n") + 1), 0),
              0u)
        << run.trace[run.trace.size() - 3];
    info = LnkInfo(link);
    EXPECT_EQ(LocalPath(info), one.folder + "bin\\app.exe") << info;
    SetFileAttributesA(link.c_str(), FILE_ATTRIBUTE_NORMAL);
    WIN32_FIND_DATAA found;
    EXPECT_EQ(FindFirstFileA((one.dir + "~lu*").c_str(), &found), INVALID_HANDLE_VALUE);
}

// A link's folder reached through a link of its own (a redirected folder;
// under Wine the user's Desktop is a link to the Linux home folder): the
// link is made where the folder leads. A link planted at the link's own
// name there is replaced, never followed.
TEST(Shortcut, InAFolderReachedThroughALink)
{
    Destination d = MakeDestination("shortcut_linked");
    std::string real = MakeTestDir("shortcut_linked_real");
    UnixLink folder(d.dir + "Desk", real.substr(0, real.size() - 1));
    ASSERT_TRUE(folder.Planted());
    ShortcutRun run = CallShortcut(d.dir + "Desk\\ソフト", d.folder, "bin\\app.exe");
    EXPECT_EQ(run.result, 1);
    std::string info = LnkInfo(real + "ソフト.lnk");
    EXPECT_EQ(LocalPath(info), Utf8(d.folder + "bin\\app.exe")) << info;

    char desktop[MAX_PATH] = "";
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop)));
    ASSERT_NE(GetFileAttributesA(desktop) & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << desktop;
    std::string name = std::string(desktop) + "\\LumiDesk" + std::to_string(GetCurrentProcessId());
    EXPECT_EQ(CallShortcut(name, d.folder, "bin\\app.exe").result, 1);
    EXPECT_TRUE(FileExists(name + ".lnk"));
    DeleteFileA((name + ".lnk").c_str());

    ASSERT_TRUE(CreateDirectoryA((real + "inner").c_str(), nullptr));
    UnixLink inner(real + "inner\\Plain.lnk", d.folder + "bin\\app.exe");
    ASSERT_TRUE(inner.Planted());
    run = CallShortcut(d.dir + "Desk\\inner\\Plain", d.folder, "bin\\app.exe");
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(ReadFileBytes(d.folder + "bin\\app.exe"), "MZ");
}

// Paths the script cannot give: no folder part, no room for ".lnk", a target
// beyond the path limit. Refused or skipped, never cut.
TEST(Shortcut, PathsBeyondWhatTheScriptGives)
{
    Destination d = MakeDestination("shortcut_limits");
    ShortcutRun run = CallShortcut("Link", d.folder, "bin\\app.exe");
    EXPECT_EQ(run.result, 0);
    ExpectErrorBox(run, "ショートカット名が不正です");
    EXPECT_FALSE(FileExists("Link.lnk"));

    std::string longPath = d.dir + std::string(256 - d.dir.size(), 'n');
    ASSERT_EQ(longPath.size(), 256u);
    run = CallShortcut(longPath, d.folder, "bin\\app.exe");
    EXPECT_EQ(run.result, 0);
    ExpectErrorBox(run, "ショートカット名が不正です");
    std::string fits = longPath.substr(0, 255);
    run = CallShortcut(fits, d.folder, "bin\\app.exe");
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(FileExists(fits + ".lnk"));

    std::string longFile = "bin\\" + std::string(259 - d.folder.size() - 4, 'f');
    run = CallShortcut(d.dir + "Link", d.folder, longFile);
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(FileExists(d.dir + "Link.lnk"));
}

} // namespace
