// The script parser against real CP932 files with CR LF line ends.
#include "script/foldermacro.h"
#include "script/parser.h"
#include "scripttest.h"
#include "testutil.h"

#include <shlobj.h>

#include <gtest/gtest.h>

namespace {

// Trail bytes 0x5C ("\") and 0x7C ("|"): ソ 83 5C, 表 95 5C, ポ 83 7C.
const std::string kTrail = "ソ表ポ";

int AdminDesktop()
{
    return IsNotAdmin() ? CSIDL_DESKTOP : CSIDL_COMMON_DESKTOPDIRECTORY;
}

int AdminPrograms()
{
    return IsNotAdmin() ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS;
}

TEST(ScriptParser, FieldKeysIgnoreLetterCaseAndKeepValuesWhole)
{
    ScriptFixture f;
    ASSERT_EQ(f.Read(CrLf({"ID=abc;1,2", "Kakunin=更新しますか？#" + kTrail + "|", "SUCCESS=完了#" + kTrail,
                           "iD=上書き" + kTrail})),
              1);
    ASSERT_NE(f.script.id, nullptr);
    EXPECT_STREQ(f.script.id, ("上書き" + kTrail).c_str()) << "a repeated key replaces the value";
    EXPECT_STREQ(f.script.kakunin, ("更新しますか？\n" + kTrail + "|").c_str());
    EXPECT_STREQ(f.script.success, ("完了\n" + kTrail).c_str());
    EXPECT_TRUE(f.Targets().empty());
    EXPECT_TRUE(f.Commands().empty());
    EXPECT_EQ(f.script.install, nullptr);
    EXPECT_EQ(f.script.post, nullptr);
}

TEST(ScriptParser, CommentsBlankLinesAndLinesWithoutExactlyOneEqualsAreIgnored)
{
    ScriptFixture f;
    ASSERT_EQ(f.Read(CrLf({"", ";id=comment", "; copy=x", "no equals here", "id=a=b", "copy=x=y", "id=kept",
                           "kakunin==", ""})),
              1);
    EXPECT_STREQ(f.script.id, "kept");
    EXPECT_EQ(f.script.kakunin, nullptr);
    EXPECT_TRUE(f.Commands().empty());
}

TEST(ScriptParser, StrayBlanksMakeAnUnknownKeyThatFailsTheParse)
{
    for (const char *line : {"id = abc", "id =abc", " id=abc", "copy =x", " ;copy=x", "\tcopy=x"}) {
        SCOPED_TRACE(line);
        ScriptFixture f;
        EXPECT_EQ(f.Read(CrLf({"id=first", line, "kakunin=never read"})), 0);
        EXPECT_STREQ(f.script.id, "first");
        EXPECT_EQ(f.script.kakunin, nullptr) << "the lines after a rejected one are not read";
        EXPECT_TRUE(f.Commands().empty());
    }
}

TEST(ScriptParser, AtomicIsZeroOrOneAndAnyOtherValueRefusesTheScript)
{
    ScriptFixture plain;
    ASSERT_EQ(plain.Read(CrLf({"id=x", "copy=a"})), 1);
    EXPECT_EQ(plain.script.atomic, 0) << "without the line every run is the plain one";
    ScriptFixture on;
    ASSERT_EQ(on.Read(CrLf({"ATOMIC=1", "copy=a"})), 1);
    EXPECT_EQ(on.script.atomic, 1);
    ScriptFixture again;
    ASSERT_EQ(again.Read(CrLf({"atomic=1", "Atomic=0"})), 1);
    EXPECT_EQ(again.script.atomic, 0) << "a repeated key wins, as for the others";
    for (const char *line : {"atomic=yes", "atomic=2", "atomic= 1", "atomic=1 ", "atomic=", "atomic=01", "atomic=true"}) {
        SCOPED_TRACE(line);
        ScriptFixture f;
        EXPECT_EQ(f.Read(CrLf({"id=first", line, "kakunin=never read"})), 0);
        EXPECT_EQ(f.script.kakunin, nullptr) << "the lines after a rejected one are not read";
    }
}

TEST(ScriptParser, EmptyValuesAreStored)
{
    ScriptFixture f;
    ASSERT_EQ(f.Read(CrLf({"id=", "kakunin=", "success=", "copy=", "target="})), 1);
    EXPECT_STREQ(f.script.id, "");
    EXPECT_STREQ(f.script.kakunin, "");
    EXPECT_STREQ(f.script.success, "");
    EXPECT_EQ(f.Targets(), std::vector<std::string>({""}));
    auto commands = f.Commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0]->act, ACT_COPY);
    EXPECT_STREQ(commands[0]->filename, "");
}

TEST(ScriptParser, TargetsAccumulateInOrderUpToSixteenPerLine)
{
    ScriptFixture f;
    ASSERT_EQ(f.Read(CrLf({"target=1.0;2.0", "TARGET=3.0", "target=4.0;", "target=a;b;c;d;e;f;g;h;i;j;k;l;m;n;o;p"})),
              1);
    std::vector<std::string> expected = {"1.0", "2.0", "3.0", "4.0", ""};
    for (char c = 'a'; c <= 'p'; c++)
        expected.push_back(std::string(1, c));
    EXPECT_EQ(f.Targets(), expected);
}

TEST(ScriptParser, SeventeenTargetPatternsRejectTheScript)
{
    ScriptFixture f;
    EXPECT_EQ(f.Read(CrLf({"target=0.9", "target=a;b;c;d;e;f;g;h;i;j;k;l;m;n;o;p;q", "id=never read"})), 0);
    // None of the seventeen is kept: a partial list would quietly refuse
    // versions the update was made for.
    EXPECT_EQ(f.Targets(), std::vector<std::string>({"0.9"}));
    EXPECT_EQ(f.script.id, nullptr);
    ScriptFixture g;
    EXPECT_EQ(g.Read(CrLf({"target=;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;"})), 0);
    EXPECT_TRUE(g.Targets().empty());
}

TEST(ScriptParser, WholeValueCommandsKeepCommasAndSemicolons)
{
    ScriptFixture f;
    ASSERT_EQ(f.Read(CrLf({"copy=MIRO42.DLL", "Remove=old,file;1.dat", "LOG=更新しました" + kTrail + ",済",
                           "create=新規\\" + kTrail + "\\sub"})),
              1);
    auto c = f.Commands();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0]->act, ACT_COPY);
    EXPECT_STREQ(c[0]->filename, "MIRO42.DLL");
    EXPECT_EQ(c[1]->act, ACT_REMOVE);
    EXPECT_STREQ(c[1]->filename, "old,file;1.dat");
    EXPECT_EQ(c[2]->act, ACT_LOG);
    EXPECT_STREQ(c[2]->filename, ("更新しました" + kTrail + ",済").c_str());
    EXPECT_EQ(c[3]->act, ACT_CREATE);
    EXPECT_STREQ(c[3]->filename, ("新規\\" + kTrail + "\\sub").c_str());
    for (const FileEntry *e : c)
        EXPECT_EQ(e->extra, nullptr);
}

TEST(ScriptParser, DllAndExeCommandsSplitTheirValue)
{
    ScriptFixture f;
    ASSERT_EQ(f.Read(CrLf({"dll=RT_IDX.DAT,plug" + kTrail + ".dll,UpdateData", "exe=setup.exe",
                           "exe=conv.exe,%DSTPATH% /q,dropped", "Exe=tool.exe,"})),
              1);
    auto c = f.Commands();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0]->act, ACT_DLL);
    EXPECT_STREQ(c[0]->filename, "RT_IDX.DAT");
    const AddOnExtra *pair = (const AddOnExtra *)c[0]->extra;
    ASSERT_NE(pair, nullptr);
    EXPECT_STREQ(pair->dll, ("plug" + kTrail + ".dll").c_str());
    EXPECT_STREQ(pair->func, "UpdateData");
    EXPECT_EQ(c[1]->act, ACT_EXE);
    EXPECT_STREQ(c[1]->filename, "setup.exe");
    EXPECT_EQ(c[1]->extra, nullptr);
    EXPECT_STREQ(c[2]->filename, "conv.exe");
    EXPECT_STREQ((const char *)c[2]->extra, "%DSTPATH% /q");
    EXPECT_STREQ(c[3]->filename, "tool.exe");
    EXPECT_STREQ((const char *)c[3]->extra, "");
}

TEST(ScriptParser, MalformedCommandsFailAfterWhatWasStored)
{
    const char *lines[] = {"dll=a.dat,plug.dll",
                           "dll=a.dat,plug.dll,Func,more",
                           "dll=",
                           "shortcut=%DESKTOP%ルミテル",
                           "shortcut=%DESKTOP%a,b,c",
                           "shortcut=C:\\plain\\link,MIRO42.EXE",
                           "shortcut=%WINDOWS%x,MIRO42.EXE",
                           "update=x",
                           "=x",
                           "copyfile=x"};
    for (const char *line : lines) {
        SCOPED_TRACE(line);
        ScriptFixture f;
        EXPECT_EQ(f.Read(CrLf({"copy=first.dat", line, "copy=never.dat"})), 0);
        auto c = f.Commands();
        ASSERT_EQ(c.size(), 1u);
        EXPECT_STREQ(c[0]->filename, "first.dat");
    }
}

TEST(ScriptParser, ShortcutPathIsExpandedIntoItsOwnBuffer)
{
    ScriptFixture f;
    ASSERT_EQ(f.Read(CrLf({"shortcut=%DESKTOP%ルミテル" + kTrail + ",MIRO42.EXE",
                           "SHORTCUT=%startmenu%\\ルミテル\\起動,bin\\run.exe"})),
              1);
    auto c = f.Commands();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0]->act, ACT_SHORTCUT);
    EXPECT_STREQ(c[0]->filename, "MIRO42.EXE");
    EXPECT_STREQ((const char *)c[0]->extra, ExpectedExpansion(AdminDesktop(), "ルミテル" + kTrail).c_str());
    EXPECT_STREQ(c[1]->filename, "bin\\run.exe");
    EXPECT_STREQ((const char *)c[1]->extra, ExpectedExpansion(AdminPrograms(), "\\ルミテル\\起動").c_str());
}

TEST(ScriptParser, InstallAndPostTakeOnlyExpandableValues)
{
    ScriptFixture f;
    ASSERT_EQ(f.Read(CrLf({"install=%PROGRAM_FILES%ルミテルポ表", "install=C:\\plain\\folder",
                           "install=%WINDOWS%x", "post=%DESKTOP%run" + kTrail + ".exe", "post=C:\\plain.exe"})),
              1);
    // The folder ends in 表, whose trail byte 0x5C is no backslash: one is added.
    EXPECT_STREQ(f.script.install, ExpectedExpansion(-1, "ルミテルポ表\\").c_str());
    EXPECT_STREQ(f.script.post, ExpectedExpansion(AdminDesktop(), "run" + kTrail + ".exe").c_str());

    ScriptFixture g;
    ASSERT_EQ(g.Read(CrLf({"install=%STARTMENU%dir\\", "post=%PROGRAM_FILES%"})), 1);
    EXPECT_STREQ(g.script.install, ExpectedExpansion(AdminPrograms(), "dir\\").c_str())
        << "a folder that ends in a backslash gets no second one";
    EXPECT_STREQ(g.script.post, ExpectedExpansion(-1, "").c_str());

    ScriptFixture h;
    ASSERT_EQ(h.Read(CrLf({"install=plain", "post=%DESKTOP%a%b"})), 1);
    EXPECT_EQ(h.script.install, nullptr);
    EXPECT_EQ(h.script.post, nullptr);
}

TEST(ScriptParser, InstallFolderWithoutRoomForItsBackslashIsIgnored)
{
    std::string folder = ExpectedExpansion(AdminPrograms(), "");  // ends in "\"
    ASSERT_LT(folder.size(), 200u);
    std::string fits(258 - folder.size(), 'f');       // 258 bytes expanded, 259 with "\"
    std::string noRoom(259 - folder.size(), 'n');     // 259 bytes expanded
    ScriptFixture f;
    ASSERT_EQ(f.Read(CrLf({"install=%STARTMENU%" + fits, "install=%STARTMENU%" + noRoom})), 1);
    ASSERT_NE(f.script.install, nullptr);
    EXPECT_EQ(std::string(f.script.install), folder + fits + "\\");
}

TEST(ScriptParser, LongPhysicalLineIsReadIn259BytePieces)
{
    // 300 bytes: "kakunin=" and 251 bytes of text make the first 259, the
    // last 41 bytes come as a line of their own.
    std::string text(251, 'k');
    std::string tail41 = "id=" + std::string(38, 't');
    ScriptFixture f;
    ASSERT_EQ(f.Read(CrLf({"kakunin=" + text + tail41, "success=next"})), 1);
    EXPECT_EQ(std::string(f.script.kakunin), text);
    EXPECT_EQ(std::string(f.script.id), std::string(38, 't'));
    EXPECT_STREQ(f.script.success, "next");

    // A tail without "=" is ignored; one that is a bad command rejects the script.
    ScriptFixture g;
    ASSERT_EQ(g.Read(CrLf({"success=" + std::string(251, 's') + std::string(41, 'x'), "id=next"})), 1);
    EXPECT_EQ(std::string(g.script.success).size(), 251u);
    EXPECT_STREQ(g.script.id, "next");
    ScriptFixture h;
    EXPECT_EQ(h.Read(CrLf({"copy=" + std::string(254, 'c') + "zz=41" + std::string(36, 'x')})), 0);
    ASSERT_EQ(h.Commands().size(), 1u);
    EXPECT_EQ(std::string(h.Commands()[0]->filename), std::string(254, 'c'));

    // Exactly 259 bytes and its CR LF are one line.
    ScriptFixture i;
    ASSERT_EQ(i.Read(CrLf({"log=" + std::string(255, 'l'), "id=x"})), 1);
    ASSERT_EQ(i.Commands().size(), 1u);
    EXPECT_EQ(std::string(i.Commands()[0]->filename).size(), 255u);
}

TEST(ScriptParser, LineEndsAtItsFirstCarriageReturnOrLineFeed)
{
    ScriptFixture f;
    ASSERT_EQ(f.Read("id=ab\rcd\r\nkakunin=unix\ncopy=last-line-without-end"), 1);
    EXPECT_STREQ(f.script.id, "ab");
    EXPECT_STREQ(f.script.kakunin, "unix");
    ASSERT_EQ(f.Commands().size(), 1u);
    EXPECT_STREQ(f.Commands()[0]->filename, "last-line-without-end");
}

TEST(ScriptParser, MissingFileIsAFailure)
{
    UpdateScript script;
    ASSERT_EQ(InitUpdateScript(&script), 1);
    MakeTestDir("script_parser");
    EXPECT_EQ(ReadScriptFile("C:\\lumitest\\script_parser\\none.INF", &script), 0);
    EXPECT_EQ(script.id, nullptr);
    FreeUpdateScript(&script);
}

TEST(ScriptPath, ReplacesTheLastExtensionOrAppendsOne)
{
    struct Case {
        const char *module;
        const char *script;
    } cases[] = {
        {"D:\\upd\\setup.exe", "D:\\upd\\setup.INF"},
        {"D:\\upd\\setup.tar.exe", "D:\\upd\\setup.tar.INF"},
        {"C:\\a.b\\program", "C:\\a.INF"},
        {"C:\\dir\\program", "C:\\dir\\program.INF"},
        {"C:\\ソフト\\更新.EXE", "C:\\ソフト\\更新.INF"},
    };
    for (const Case &c : cases) {
        char path[260];
        strcpy(path, c.module);
        EXPECT_EQ(ScriptPathFromModulePath(path, sizeof(path)), 1) << c.module;
        EXPECT_STREQ(path, c.script);
    }
    char full[260];
    std::string name = "C:\\" + std::string(253, 'x');  // 256 bytes, no room for ".INF"
    strcpy(full, name.c_str());
    EXPECT_EQ(ScriptPathFromModulePath(full, sizeof(full)), 0);
}

} // namespace
