#include "checkercases.h"

#include "scripttest.h"
#include "script/foldermacro.h"
#include "testutil.h"

#include <shlobj.h>

namespace {

const std::string kHead = "id=U0100\r\ntarget=1.0\r\n";  // lines 1 and 2
const std::string kRefused = "; the updater refuses the script here (code 2)";
const std::string kNotReached = " (the updater stops before this line)";
const std::string kBlankValue = "the value starts or ends with a blank, which the updater keeps as part of it";
const std::string kUtf8Script =
    "Lumiupd.INF: error: the script is saved as UTF-8: the updater reads it as Shift-JIS (CP932) and shows its "
    "Japanese texts garbled; save it as Shift-JIS";

std::string LiteralMacro(const std::string &name)
{
    return "\"%" + name + "%\" is not expanded here: the updater takes it as written (a folder macro works only "
           "at the start of \"install\", \"post\" and a shortcut's path)";
}

std::string Line(int number, const std::string &severity, const std::string &what, const std::string &text)
{
    return "Lumiupd.INF:" + std::to_string(number) + ": " + severity + ": " + what + "\n    " + text;
}

std::string Error(int number, const std::string &what, const std::string &text)
{
    return Line(number, "error", what, text);
}

std::string Warning(int number, const std::string &what, const std::string &text)
{
    return Line(number, "warning", what, text);
}

std::vector<CheckerCase> RefusedCases()
{
    std::string seventeen = "target=a;b;c;d;e;f;g;h;i;j;k;l;m;n;o;p;q";
    std::string longRest(220, 'x');
    return {
        {"atomic_neither_0_nor_1", kHead + CrLf({"atomic=yes", "atomic= 1"}), 1,
         {Error(3, "\"atomic\" value \"yes\" is neither 0 nor 1" + kRefused, "atomic=yes"),
          Error(4, "\"atomic\" value \" 1\" is neither 0 nor 1" + kNotReached, "atomic= 1")}},
        {"unknown_key", kHead + CrLf({"copy=MIRO42.DLL", "update=x", "copyfile=y"}), 1,
         {Error(4, "unknown key \"update\"" + kRefused, "update=x"),
          Error(5, "unknown key \"copyfile\"" + kNotReached, "copyfile=y")}},
        {"stray_blank", CrLf({"id = abc", "target=1.0", "\tCopy =x", " ;copy=x", "=x"}), 1,
         {Error(1, "key \"id \" has a stray blank: write \"id=\"" + kRefused, "id = abc"),
          Error(3, "key \"\tCopy \" has a stray blank: write \"copy=\"" + kNotReached, "\tCopy =x"),
          Error(4, "unknown key \" ;copy\": a comment needs \";\" in the first column" + kNotReached, " ;copy=x"),
          Error(5, "unknown key \"\"" + kNotReached, "=x")}},
        {"dll_pieces", kHead + CrLf({"dll=a.dat,plug.dll", "dll=a,b,c,d", "dll="}), 1,
         {Error(3, "\"dll\" value has 2 pieces, needs 3: file,plugin.dll,Function" + kRefused, "dll=a.dat,plug.dll"),
          Error(4, "\"dll\" value has 4 pieces, needs 3: file,plugin.dll,Function" + kNotReached, "dll=a,b,c,d"),
          Error(5, "\"dll\" value has 1 piece, needs 3: file,plugin.dll,Function" + kNotReached, "dll=")}},
        {"shortcut_pieces", kHead + CrLf({"shortcut=%DESKTOP%ルミテル", "shortcut=%DESKTOP%a,b,c"}), 1,
         {Error(3, "\"shortcut\" value has 1 piece, needs 2: path,target" + kRefused, "shortcut=%DESKTOP%ルミテル"),
          Error(4, "\"shortcut\" value has 3 pieces, needs 2: path,target" + kNotReached,
                "shortcut=%DESKTOP%a,b,c")}},
        {"shortcut_macro",
         kHead + CrLf({"shortcut=C:\\plain\\link,MIRO42.EXE", "shortcut=%WINDOWS%x,A.EXE",
                       "shortcut=%DESKTOP%a%b,A.EXE", "shortcut=%STARTMENU%" + longRest + ",A"}),
         1,
         {Error(3,
                "shortcut path does not expand: it does not start with a folder macro (%DESKTOP%, %STARTMENU%, "
                "%PROGRAM_FILES%)" + kRefused,
                "shortcut=C:\\plain\\link,MIRO42.EXE"),
          Error(4,
                "shortcut path does not expand: \"%WINDOWS%\" is no folder macro (DESKTOP, STARTMENU, "
                "PROGRAM_FILES)" + kNotReached,
                "shortcut=%WINDOWS%x,A.EXE"),
          Error(5, "shortcut path does not expand: it holds 3 \"%\" where a folder macro value holds exactly 2" +
                       kNotReached,
                "shortcut=%DESKTOP%a%b,A.EXE"),
          Error(6,
                "shortcut path does not expand: expanded on this machine it would be " +
                    std::to_string(StartMenuPath(longRest).size()) + " bytes long (at most 259)" + kNotReached,
                "shortcut=%STARTMENU%" + longRest + ",A")}},
        {"too_many_targets", CrLf({"id=U1", "target=0.9", seventeen, "target=" + std::string(40, ';')}), 1,
         {Error(3, "17 patterns on one \"target\" line (at most 16): split them over several lines" + kRefused,
                seventeen),
          Error(4, "41 patterns on one \"target\" line (at most 16): split them over several lines" + kNotReached,
                "target=" + std::string(40, ';'))}},
        {"long_line_rejected", kHead + CrLf({"copy=" + std::string(254, 'c') + "zz=41" + std::string(36, 'x')}), 1,
         {Warning(3,
                  "line longer than 259 bytes: cut after byte 259; bytes 260-300 are read as a line of their own "
                  "and it rejects the script",
                  "zz=41" + std::string(36, 'x')),
          Error(3, "unknown key \"zz\"" + kRefused, "zz=41" + std::string(36, 'x'))}},
        {"utf8_mark", "\xEF\xBB\xBFid=U1\r\ntarget=1.0\r\n", 1,
         {kUtf8Script,
          Warning(1,
                  "the script starts with a UTF-8 byte order mark, which becomes part of the first key: save it "
                  "as Shift-JIS (CP932)",
                  "\xEF\xBB\xBFid=U1"),
          Error(1, "unknown key \"\xEF\xBB\xBFid\"" + kRefused, "\xEF\xBB\xBFid=U1")}},
    };
}

std::vector<CheckerCase> IgnoredLineCases()
{
    std::string manyEquals = "a" + std::string(17, '=');
    std::string noRoom(259 - StartMenuPath("").size(), 'n');   // 259 bytes expanded: no room for "\"
    std::string tooLong(300 - 40 - StartMenuPath("").size(), 'l');
    return {
        {"equals", kHead + CrLf({"", ";comment=x", "no equals here", "id=a=b", manyEquals}), 0,
         {Warning(5, "no \"=\": the line is ignored", "no equals here"),
          Warning(6, "2 \"=\" on the line: it is ignored (a value cannot hold \"=\")", "id=a=b"),
          Warning(7, "17 \"=\" on the line: it is ignored (a value cannot hold \"=\"); more pieces than the 16 a "
                     "split holds",
                  manyEquals)}},
        {"macro_ignored",
         kHead + CrLf({"install=C:\\plain\\folder", "install=%WINDOWS%x", "post=%DESKTOP%a%b", "Post=plain.exe",
                       "install=%STARTMENU%" + noRoom, "install=%startmenu%" + tooLong}),
         0,
         {Warning(3,
                  "\"install\" value is ignored: it does not start with a folder macro (%DESKTOP%, %STARTMENU%, "
                  "%PROGRAM_FILES%)",
                  "install=C:\\plain\\folder"),
          Warning(4, "\"install\" value is ignored: \"%WINDOWS%\" is no folder macro (DESKTOP, STARTMENU, "
                     "PROGRAM_FILES)",
                  "install=%WINDOWS%x"),
          Warning(5, "\"post\" value is ignored: it holds 3 \"%\" where a folder macro value holds exactly 2",
                  "post=%DESKTOP%a%b"),
          Warning(6,
                  "\"post\" value is ignored: it does not start with a folder macro (%DESKTOP%, %STARTMENU%, "
                  "%PROGRAM_FILES%)",
                  "Post=plain.exe"),
          Warning(7, "\"install\" value is ignored: expanded on this machine it is 259 bytes long: no room for the "
                     "closing \"\\\"",
                  "install=%STARTMENU%" + noRoom),
          Warning(8,
                  "\"install\" value is ignored: expanded on this machine it would be " +
                      std::to_string(StartMenuPath(tooLong).size()) + " bytes long (at most 259)",
                  "install=%startmenu%" + tooLong)}},
    };
}

std::vector<CheckerCase> LongLineCases()
{
    std::string tail41 = "id=" + std::string(38, 't');
    std::string ignored41 = std::string(41, 'x');
    // "success=" and 250 bytes fill 258; ル (83 8B) takes bytes 259 and 260.
    std::string splitText = "success=" + std::string(250, 'a') + "ルミテル";
    std::string splitTail = splitText.substr(259);
    return {
        {"long_lines",
         CrLf({"kakunin=" + std::string(251, 'k') + tail41, "target=1.0",
               "success=" + std::string(251, 's') + ignored41, "log=a/" + std::string(253, 'l'), splitText,
               "copy=" + std::string(600, 'c'), "log=a/" + std::string(253, 'l') + "copy=tail.dat"}),
         0,
         {Warning(1,
                  "line longer than 259 bytes: cut after byte 259; bytes 260-300 are read as a line of their own "
                  "and it sets \"id\"",
                  tail41),
          Warning(3,
                  "line longer than 259 bytes: cut after byte 259; bytes 260-300 are read as a line of their own "
                  "and it is ignored (no \"=\")",
                  ignored41),
          Warning(3, "no \"=\": the line is ignored", ignored41),
          Warning(5, "\"success\" is set again: this replaces the value of line 3", splitText.substr(0, 259)),
          Warning(5,
                  "line longer than 259 bytes: cut after byte 259 (inside a double-byte character); bytes 260-" +
                      std::to_string(splitText.size()) +
                      " are read as a line of their own and it is ignored (no \"=\")",
                  splitTail),
          Warning(5, "no \"=\": the line is ignored", splitTail),
          Warning(6,
                  "line longer than 259 bytes: cut after byte 259; bytes 260-518 are read as a line of their own "
                  "and it is ignored (no \"=\")",
                  std::string(259, 'c')),
          Warning(6, "no \"=\": the line is ignored", std::string(259, 'c')),
          Warning(6,
                  "line longer than 259 bytes: cut after byte 518; bytes 519-605 are read as a line of their own "
                  "and it is ignored (no \"=\")",
                  std::string(87, 'c')),
          Warning(6, "no \"=\": the line is ignored", std::string(87, 'c')),
          Warning(7,
                  "line longer than 259 bytes: cut after byte 259; bytes 260-272 are read as a line of their own "
                  "and it adds a \"copy\" command",
                  "copy=tail.dat")}},
    };
}

std::vector<CheckerCase> CommandCases()
{
    std::string pieces17 = "exe=a.exe,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q";
    const std::string twoInARow = "the path after the folder macro starts with \"\\\": the expanded path holds two in a row";
    const std::string forbidden = "holds one of \\ / : * \" < > . | ? and the \"shortcut\" command refuses it when it runs";
    return {
        {"exe_pieces", kHead + CrLf({"exe=setup.exe", "exe=conv.exe,/q,dropped", pieces17, "exe=tool.exe,"}), 0,
         {Warning(4,
                  "\"exe\" value has 3 pieces: only the program and its parameters (the first two) are used, "
                  "parameters cannot hold \",\"",
                  "exe=conv.exe,/q,dropped"),
          Warning(5,
                  "\"exe\" value has 17 pieces: only the program and its parameters (the first two) are used, "
                  "parameters cannot hold \",\"; more pieces than the 16 a split holds",
                  pieces17)}},
        {"log_slash", kHead + CrLf({"log=2026年12月/データ更新", "log=データ更新", "log=a/b/c", "log=/"}), 0,
         {Warning(4, "\"log\" comment holds 0 \"/\": the history line's second part stays empty", "log=データ更新"),
          Warning(5, "\"log\" comment holds 2 \"/\": the history line's second part takes all after the first one",
                  "log=a/b/c")}},
        {"dstpath",
         kHead + CrLf({"copy=%dstpath%x.dat", "exe=setup.exe,%DstPath% /q", "exe=%DSTPATH%ok.exe,/in %DSTPATH%",
                       "remove=%DSTPATH%old.dat", "create=%DSTPATH%sub", "copy="}),
         0,
         {Warning(3, "%DSTPATH% in other letter case is not replaced: write it in capitals", "copy=%dstpath%x.dat"),
          Warning(4, "%DSTPATH% in other letter case is not replaced: write it in capitals",
                  "exe=setup.exe,%DstPath% /q"),
          Warning(6, "%DSTPATH% is not replaced in this command's file name: it names a path in the destination",
                  "remove=%DSTPATH%old.dat"),
          Warning(7, "%DSTPATH% is not replaced in this command's file name: it names a path in the destination",
                  "create=%DSTPATH%sub"),
          Warning(8, "empty file name: the command names the folder itself", "copy=")}},
        {"macro_rest",
         kHead + CrLf({"install=%PROGRAM_FILES%\\Kevrani", "post=%DESKTOP%\\run.exe", "shortcut=%DESKTOP%\\link,X.EXE",
                       "install=%PROGRAM_FILES%Kevrani"}),
         0,
         {Warning(3, twoInARow, "install=%PROGRAM_FILES%\\Kevrani"),
          Warning(4, twoInARow, "post=%DESKTOP%\\run.exe"),
          Warning(5, twoInARow, "shortcut=%DESKTOP%\\link,X.EXE"),
          Warning(6, "\"install\" is set again: this replaces the value of line 3", "install=%PROGRAM_FILES%Kevrani")}},
        {"usual_mistakes",
         kHead + CrLf({"copy=data\\NEW.DAT", "create=data", "exe=conv.exe,\"%DSTPATH%\" /q", "copy=%DSTPATH",
                       "target=1.1,1.2", "success=done ", "copy= x.dat", "copy=data\\sub\\x.dat", "create=data\\sub"}),
         0,
         {Warning(4,
                  "line 3 writes into \"data\" before this line makes it: where the folder is missing that command "
                  "fails first; put the \"create\" before it",
                  "create=data"),
          Warning(5,
                  "\"%DSTPATH%\" in double quotes: its closing backslash escapes the quote and the program gets a "
                  "path ending in '\"'; write %DSTPATH% without quotes",
                  "exe=conv.exe,\"%DSTPATH%\" /q"),
          Warning(6, "a lone \"%\": a placeholder lacks its closing \"%\" (%DSTPATH%)", "copy=%DSTPATH"),
          Warning(7, "\"target\" holds \",\": patterns are separated by \";\" (target=1.1;1.2), so this is one pattern",
                  "target=1.1,1.2"),
          Warning(8, kBlankValue, "success=done "), Warning(9, kBlankValue, "copy= x.dat"),
          Warning(11,
                  "line 10 writes into \"data\\sub\" before this line makes it: where the folder is missing that "
                  "command fails first; put the \"create\" before it",
                  "create=data\\sub")}},
        {"data_version_first",
         kHead + CrLf({"copy=MIRO42.DLL", "copy=.\\rt_idx.dat", "log=a/b", "copy=data\\NEW.DAT", "log=c/d"}), 0,
         {Warning(6,
                  "line 4 copies the data version file (RT_IDX.DAT) before this command: should this or a later "
                  "command fail, the installed copy already has the new version and the version check refuses "
                  "the same update run again; copy RT_IDX.DAT last",
                  "copy=data\\NEW.DAT")}},
        {"literal_macros",
         kHead + CrLf({"remove=%DESKTOP%ルミテル旧版.lnk", "success=%PROGRAM_FILES%に入れました",
                       "shortcut=%DESKTOP%ルミテル,%PROGRAM_FILES%LUMI.EXE", "exe=%DSTPATH%x.exe,%TEMP% /q",
                       "kakunin=%USERNAME%さん、50%と100%"}),
         0,
         {Warning(3, LiteralMacro("DESKTOP"), "remove=%DESKTOP%ルミテル旧版.lnk"),
          Warning(4, LiteralMacro("PROGRAM_FILES"), "success=%PROGRAM_FILES%に入れました"),
          Warning(5, LiteralMacro("PROGRAM_FILES"), "shortcut=%DESKTOP%ルミテル,%PROGRAM_FILES%LUMI.EXE"),
          Warning(6, LiteralMacro("TEMP"), "exe=%DSTPATH%x.exe,%TEMP% /q"),
          Warning(7, LiteralMacro("USERNAME"), "kakunin=%USERNAME%さん、50%と100%")}},
        {"shortcut_name",
         kHead + CrLf({"shortcut=%DESKTOP%a.b,X.EXE", "shortcut=%DESKTOP%ルミ?テル,X.EXE",
                       "shortcut=%DESKTOP%ソフト表,X.EXE", "shortcut=%STARTMENU%sub\\ok,X.EXE",
                       "shortcut=%DESKTOP%,X.EXE", "shortcut=%DESKTOP%a:b,X.EXE"}),
         0,
         {Warning(3, "shortcut name \"a.b\" " + forbidden, "shortcut=%DESKTOP%a.b,X.EXE"),
          Warning(4, "shortcut name \"ルミ?テル\" " + forbidden, "shortcut=%DESKTOP%ルミ?テル,X.EXE"),
          Warning(7, "shortcut path \"" + DesktopPath("") + "\" ends without a name", "shortcut=%DESKTOP%,X.EXE"),
          Warning(8, "shortcut name \"a:b\" " + forbidden, "shortcut=%DESKTOP%a:b,X.EXE")}},
    };
}

std::vector<CheckerCase> ByteCases()
{
    return {
        {"cp932",
         kHead + CrLf({"kakunin=bad \x80 byte", "success=\xFF", "log=a/\x82\x20x", "log=a/ends in lead \x82",
                       "log=a/\xE6\x9B\xB4\xE6\x96\xB0", "copy=正しい表示"}),
         0,
         {Warning(3, "byte 0x80 at column 13 is not valid CP932", "kakunin=bad \x80 byte"),
          Warning(4, "byte 0xFF at column 9 is not valid CP932", "success=\xFF"),
          Warning(5, "bytes 0x82 0x20 at column 7 are no CP932 character", "log=a/\x82\x20x"),
          Warning(6, "bytes 0x82 0x0A at column 20 are no CP932 character", "log=a/ends in lead \x82"),
          Warning(7, "the line looks like UTF-8, not CP932: its Japanese text would be garbled",
                  "log=a/\xE6\x9B\xB4\xE6\x96\xB0")}},
        {"utf8_script", kHead + CrLf({"kakunin=\xE6\x9B\xB4\xE6\x96\xB0", "success=\xE5\xAE\x8C\xE4\xBA\x86"}), 0,
         {kUtf8Script}},
        {"line_ends",
         kHead + "kakunin=ab\rcd\r\n" + std::string("success=a\0b\r\n", 13) + "log=a/b\r\n" + "\x1A" +
             "\r\nid=after\r\n",
         0,
         {Warning(3, "carriage return at column 11: the rest of the line is ignored", "kakunin=ab"),
          Warning(4, "zero byte at column 10: the line ends there for the updater (saved as UTF-16?)", "success=a"),
          Warning(6,
                  "byte 0x1A at column 1 ends the script for the updater (a text file ends there): the 12 bytes "
                  "after it are never read",
                  "")}},
    };
}

std::vector<CheckerCase> ScriptWideCases()
{
    return {
        {"no_id_no_target", CrLf({"copy=MIRO42.DLL"}), 0,
         {"Lumiupd.INF: warning: no \"id\": the update is not registered in INSTALLED of MIRO42.INI",
          "Lumiupd.INF: warning: no \"target\": no installed copy can pass the version check (only the install folder "
          "can be updated)"}},
        {"settings",
         CrLf({"id=", "target=1.0;", "target=1-2", "target= 1.2;-1.5;2.0-", "ID=U2", "kakunin=a", "KAKUNIN=b"}), 0,
         {Warning(2,
                  "empty target pattern (\"target=\" or a \";\" at an end): it accepts every installed copy whose "
                  "RT_IDX.DAT can be read",
                  "target=1.0;"),
          Warning(3, "target pattern \"1-2\" is no range: it accepts versions whose text starts with it",
                  "target=1-2"),
          Warning(4, "target pattern \" 1.2\" holds a blank: patterns are compared as written",
                  "target= 1.2;-1.5;2.0-"),
          Warning(5, "\"id\" is set again: this replaces the value of line 1", "ID=U2"),
          Warning(7, "\"kakunin\" is set again: this replaces the value of line 6", "KAKUNIN=b")}},
        {"empty_id", CrLf({"id=", "target=1.0"}), 0,
         {"Lumiupd.INF: warning: empty \"id\": the update is not registered in INSTALLED of MIRO42.INI"}},
        {"atomic_with_plugin_and_program",
         kHead + CrLf({"copy=NEW.DAT", "dll=NEW.DAT,UPD.DLL,Go", "exe=CONV.EXE", "atomic=1", "Atomic=1"}), 0,
         {Warning(7, "\"atomic\" is set again: this replaces the value of line 6", "Atomic=1"),
          "Lumiupd.INF: note: \"atomic=1\" with a plug-in or program (line 4, 5): the file commands before it "
          "are in place when it runs, and if a later command fails the updater undoes the destination's file "
          "changes, not what the plug-in or program did itself"}},
    };
}

int Desktop()
{
    return IsNotAdmin() ? CSIDL_DESKTOP : CSIDL_COMMON_DESKTOPDIRECTORY;
}

int StartMenu()
{
    return IsNotAdmin() ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS;
}

} // namespace

std::string DesktopPath(const std::string &rest)
{
    return ExpectedExpansion(Desktop(), rest);
}

std::string StartMenuPath(const std::string &rest)
{
    return ExpectedExpansion(StartMenu(), rest);
}

const std::vector<CheckerCase> &CheckerCases()
{
    static const std::vector<CheckerCase> cases = [] {
        std::vector<CheckerCase> all;
        for (auto group : {RefusedCases(), IgnoredLineCases(), LongLineCases(), CommandCases(), ByteCases(),
                           ScriptWideCases()})
            all.insert(all.end(), group.begin(), group.end());
        return all;
    }();
    return cases;
}

std::string SummaryScript()
{
    return CrLf({"id=U0200", "kakunin=更新します。#よろしいですか？", "target=1.1;-1.5", "target=2.0-;",
                 "install=%PROGRAM_FILES%Kevrani\\ルミテル", "success=完了", "post=%DESKTOP%run.exe", "copy=MIRO42.DLL",
                 "; a comment between the commands", "remove=OLD.DAT", "dll=data\\NEW.DAT,UPDHELP.DLL,ConvertData",
                 "exe=CONVERT.EXE,/in \"%DSTPATH%data\"", "exe=SETUP.EXE", "shortcut=%DESKTOP%ルミテル,LUMI.EXE",
                 "log=2026年12月/データ更新", "create=data"});
}

std::string FolderScript()
{
    return CrLf({"id=U1", "target=1.0", "copy=MIRO42.DLL", "copy=data\\NEW.DAT", "copy=.\\data\\..\\Data\\new.dat",
                 "copy=missing.dat", "copy=data", "copy=%DSTPATH%keep.dat", "copy=C:\\elsewhere\\x.dat",
                 "dll=data\\NEW.DAT,UPDHELP.DLL,Convert", "exe=CONVERT.EXE,/q", "exe=%DSTPATH%LUMI.EXE",
                 "exe=tools\\run.exe", "dll=ソフト\\表.dat,plug/in.dll,F"});
}

std::string ScriptBesideAnotherFolder()
{
    return CrLf({"id=U1", "target=1.0", "copy=MIRO42.DLL"});
}

std::vector<std::string> ResultScripts()
{
    return {CrLf({"id=U1", "x=1", "no equals", "y=2", "target=1"}), CrLf({"id=U1", "target=1", "copy=a"}), ""};
}

std::vector<std::pair<std::string, std::string>> AllCheckerScripts()
{
    std::vector<std::pair<std::string, std::string>> all;
    for (const CheckerCase &c : CheckerCases())
        all.push_back({c.name, c.script});
    all.push_back({"summary", SummaryScript()});
    all.push_back({"folder", FolderScript()});
    all.push_back({"beside another folder", ScriptBesideAnotherFolder()});
    for (const std::string &script : ResultScripts())
        all.push_back({"result", script});
    return all;
}
