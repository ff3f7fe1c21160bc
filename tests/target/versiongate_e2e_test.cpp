// The real updater with a script and a destination on its command line.
#include "base/messages.h"
#include "installed.h"
#include "testutil.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace {

bool HasLine(const std::vector<std::string> &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool Mentions(const std::vector<std::string> &lines, const std::string &text)
{
    for (const std::string &line : lines) {
        if (line.find(text) != std::string::npos)
            return true;
    }
    return false;
}

// The run's one closing box: its text under "終了", the warning icon, OK.
void ExpectFailureBox(const RunResult &r, const std::string &text)
{
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].caption, CAPTION_FINISHED);
    EXPECT_EQ(r.boxes[0].text, text);
    EXPECT_EQ(r.boxes[0].icon, ICON_WARNING);
    ASSERT_EQ(r.boxes[0].buttons.size(), 1u);
    EXPECT_EQ(r.boxes[0].buttons[0].id, IDOK);
}

const std::string kScript = CrLf({"id=UPD-0042", "kakunin=ルミテルを更新しますか？#ソフト表示", "target=1.0;2.",
                                  "copy=MIRO42.DLL"});

TEST(GateEndToEnd, MalformedScriptEndsWithCode2)
{
    std::string dst = MakeInstalledFolder("gate_e2e_bad_dst", "2.00");
    std::string dir = MakeUpdateFolder("gate_e2e_bad", CrLf({"id=x", "copy=MIRO42.DLL", "dll=a.dat,plug.dll"}));
    RunResult r = RunProgram(dir + "Lumiupd.exe", "\"" + dst + "\"", {});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 2u);
    ExpectFailureBox(r, MessageTable[2]);
    std::vector<std::string> lines = TraceLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "nResult = 2");
    EXPECT_FALSE(Mentions(lines, "[CheckFile]"));
}

TEST(GateEndToEnd, CommandLineDestinationRefusedByTheGateEndsWithCode6)
{
    std::string dst = MakeInstalledFolder("gate_e2e_old", "0.9");
    // Registered copies must not be searched either.
    std::string other = MakeInstalledFolder("gate_e2e_other", "2.00");
    InstalledRegistration reg("gate_e2e", other);
    ASSERT_TRUE(reg.ok());
    std::string dir = MakeUpdateFolder("gate_e2e_refused", kScript);
    for (const char *flags : {"", "-auto "}) {
        SCOPED_TRACE(flags);
        RunResult r = RunProgram(dir + "Lumiupd.exe", flags + ("\"" + dst + "\""), {});
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 6u);
        // The only box: no question before the gate's refusal.
        ExpectFailureBox(r, "対象となるルミテルが見つかりません。(6)");
        std::vector<std::string> lines = TraceLines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "");
        EXPECT_EQ(lines.back(), "nResult = 6");
        EXPECT_FALSE(Mentions(lines, "[GetDstPath]")) << "discovery is never tried";
        EXPECT_FALSE(Mentions(lines, "[CheckFile]"));
    }
}

TEST(GateEndToEnd, CommandLineDestinationThatPassesIsTheOnlyOne)
{
    std::string dst = MakeInstalledFolder("gate_e2e_ok", "2.00");
    std::string dir = MakeUpdateFolder("gate_e2e_pass", kScript);
    ASSERT_TRUE(WriteFileBytes(dir + "MIRO42.DLL", "new library"));
    RunOptions options;
    options.answers = {{IDYES}, {IDOK}};
    RunResult r = RunProgram(dir + "Lumiupd.exe", dst.substr(0, dst.size() - 1), options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[1].caption, CAPTION_FINISHED);
    EXPECT_EQ(r.boxes[1].text, MessageTable[0]);
    EXPECT_EQ(ReadFileBytes(dst + "MIRO42.DLL"), "new library");
    // The script's question, with its "#" made a line break, comes after the gate.
    EXPECT_EQ(r.boxes[0].caption, CAPTION_CONFIRM);
    EXPECT_EQ(r.boxes[0].text, "ルミテルを更新しますか？\nソフト表示");
    EXPECT_EQ(r.boxes[0].icon, ICON_QUESTION);
    std::vector<std::string> lines = TraceLines();
    EXPECT_TRUE(HasLine(lines, "\tcl.dst\t\t= " + dst));
    EXPECT_TRUE(HasLine(lines, "\t[CheckFile]>>"));
    EXPECT_TRUE(HasLine(lines, "\t[Update]>>"));
    EXPECT_FALSE(Mentions(lines, "[GetDstPath]"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "nResult = 0");
}

} // namespace
