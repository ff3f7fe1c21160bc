// What the parser reports of each line, and the reader that hands every line
// on: the checker's view of the updater's own parse.
#include "script/parser.h"
#include "scripttest.h"
#include "testutil.h"

#include <string.h>

#include <gtest/gtest.h>

namespace {

struct OutcomeCase {
    std::string line;
    ScriptLineOutcome outcome;
    const char *key;
    int act;
    int equalsPieces;
    int valuePieces;
};

TEST(ScriptLineReport, EveryOutcomeWithItsKeyAndPieces)
{
    const OutcomeCase cases[] = {
        {"", LINE_EMPTY, nullptr, 0, 0, 0},
        {"\r\n", LINE_EMPTY, nullptr, 0, 0, 0},
        {";id=x", LINE_COMMENT, nullptr, 0, 0, 0},
        {"no equals", LINE_NO_EQUALS, nullptr, 0, 1, 0},
        {"a=b=c", LINE_SEVERAL_EQUALS, nullptr, 0, 3, 0},
        {"a" + std::string(20, '='), LINE_SEVERAL_EQUALS, nullptr, 0, 21, 0},
        {"ID=x", LINE_SETTING_STORED, "id", 0, 2, 0},
        {"Target=1;2;", LINE_SETTING_STORED, "target", 0, 2, 3},
        {"install=C:\\plain", LINE_MACRO_IGNORED, "install", 0, 2, 0},
        {"POST=%WINDOWS%x", LINE_MACRO_IGNORED, "post", 0, 2, 0},
        {"post=%DESKTOP%x.exe", LINE_SETTING_STORED, "post", 0, 2, 0},
        {"Copy=a,b;c", LINE_COMMAND_STORED, "copy", ACT_COPY, 2, 0},
        {"log=a/b", LINE_COMMAND_STORED, "log", ACT_LOG, 2, 0},
        {"exe=a,b,c", LINE_COMMAND_STORED, "exe", ACT_EXE, 2, 3},
        {"dll=a,b,c", LINE_COMMAND_STORED, "dll", ACT_DLL, 2, 3},
        {"shortcut=%DESKTOP%x,y", LINE_COMMAND_STORED, "shortcut", ACT_SHORTCUT, 2, 2},
        {"update=x", LINE_UNKNOWN_KEY, nullptr, 0, 2, 0},
        {"=x", LINE_UNKNOWN_KEY, nullptr, 0, 2, 0},
        {" ;copy=x", LINE_UNKNOWN_KEY, nullptr, 0, 2, 0},
        {"id =x", LINE_KEY_WITH_BLANK, "id", 0, 2, 0},
        {"\t Shortcut \t=x", LINE_KEY_WITH_BLANK, "shortcut", 0, 2, 0},
        {"dll=a,b", LINE_DLL_PIECES, "dll", ACT_DLL, 2, 2},
        {"dll=" + std::string(20, ','), LINE_DLL_PIECES, "dll", ACT_DLL, 2, 21},
        {"shortcut=%DESKTOP%x", LINE_SHORTCUT_PIECES, "shortcut", ACT_SHORTCUT, 2, 1},
        {"shortcut=C:\\x,y", LINE_SHORTCUT_MACRO, "shortcut", ACT_SHORTCUT, 2, 2},
        {"target=a;b;c;d;e;f;g;h;i;j;k;l;m;n;o;p;q", LINE_TOO_MANY_TARGETS, "target", 0, 2, 17},
        {"Atomic=1", LINE_SETTING_STORED, "atomic", 0, 2, 0},
        {"atomic=on", LINE_BAD_SWITCH, "atomic", 0, 2, 0},
    };
    for (const OutcomeCase &c : cases) {
        SCOPED_TRACE(c.line);
        UpdateScript script;
        ASSERT_EQ(InitUpdateScript(&script), 1);
        char line[SCRIPT_LINE_BUFFER];
        ASSERT_LT(c.line.size(), sizeof(line));
        strcpy(line, c.line.c_str());
        ScriptLineReport report;
        memset(&report, 0x55, sizeof(report));
        int result = ParseScriptLineEx(line, &script, &report);
        EXPECT_EQ(report.outcome, c.outcome);
        EXPECT_EQ(result, IsRejectedLine(c.outcome) ? 0 : 1);
        if (c.key) {
            EXPECT_STREQ(report.key, c.key);
        } else {
            EXPECT_EQ(report.key, nullptr);
        }
        EXPECT_EQ(report.act, c.act);
        EXPECT_EQ(report.equalsPieces, c.equalsPieces);
        EXPECT_EQ(report.valuePieces, c.valuePieces);
        int commands = PtrListCount(script.commands);
        EXPECT_EQ(commands, c.outcome == LINE_COMMAND_STORED ? 1 : 0) << "only a stored command is kept";
        FreeUpdateScript(&script);
    }
}

TEST(ScriptLineReport, OnlyTheRejectingOutcomesEndTheParse)
{
    for (int outcome = LINE_EMPTY; outcome <= LINE_NO_MEMORY; outcome++)
        EXPECT_EQ(IsRejectedLine((ScriptLineOutcome)outcome), outcome >= LINE_UNKNOWN_KEY ? 1 : 0) << outcome;
}

struct SeenLine {
    std::string raw;
    ScriptLineOutcome outcome;
};

struct Recorder {
    std::vector<SeenLine> lines;
    size_t stopAfter = 1000;
};

int Record(const char *raw, size_t rawLength, const ScriptLineReport *report, void *context)
{
    Recorder *recorder = (Recorder *)context;
    recorder->lines.push_back({std::string(raw, rawLength), report->outcome});
    return recorder->lines.size() < recorder->stopAfter ? 1 : 0;
}

// Reads bytes from a real text-mode file with ReadScriptStreamEx.
int ReadWithSink(const std::string &bytes, Recorder *recorder, UpdateScript *script)
{
    std::string path = MakeTestDir("script_report") + "Lumiupd.INF";
    if (!WriteFileBytes(path, bytes))
        return -1;
    FILE *file = fopen(path.c_str(), "rt");
    if (!file)
        return -1;
    int result = ReadScriptStreamEx(file, script, Record, recorder);
    fclose(file);
    return result;
}

TEST(ScriptLineReader, HandsOnEveryLineAsReadAndReadsPastARejectedOne)
{
    ScriptFixture f;
    Recorder recorder;
    std::string text = "kakunin=" + std::string(251, 'k') + "id=" + std::string(38, 't');
    std::string bytes = CrLf({"id=a", "bad=1", text, ""}) + std::string("log=a\0b/c\r\ncopy=last", 20);
    ASSERT_EQ(ReadWithSink(bytes, &recorder, &f.script), 0) << "a rejected line makes the result 0";
    ASSERT_EQ(recorder.lines.size(), 7u);
    EXPECT_EQ(recorder.lines[0].raw, "id=a\n") << "text mode: CR LF arrives as LF";
    EXPECT_EQ(recorder.lines[1].outcome, LINE_UNKNOWN_KEY);
    EXPECT_EQ(recorder.lines[2].raw, text.substr(0, 259)) << "259 bytes, no line end: the line goes on";
    EXPECT_EQ(recorder.lines[3].raw, text.substr(259) + "\n");
    EXPECT_EQ(recorder.lines[3].outcome, LINE_SETTING_STORED);
    EXPECT_EQ(recorder.lines[4].outcome, LINE_EMPTY);
    EXPECT_EQ(recorder.lines[5].raw, std::string("log=a\0b/c\n", 10)) << "a zero byte is handed on with the rest";
    EXPECT_EQ(recorder.lines[6].raw, "copy=last");
    // The parse went on after the rejected line.
    EXPECT_STREQ(f.script.id, std::string(38, 't').c_str());
    ASSERT_EQ(f.Commands().size(), 2u);
    EXPECT_STREQ(f.Commands()[0]->filename, "a") << "the parser's line ends at the zero byte";
}

TEST(ScriptLineReader, StopsWhenTheSinkSaysSoAndWithoutOneAtTheFirstRejection)
{
    std::string bytes = CrLf({"id=a", "copy=x", "bad=1", "kakunin=after"});
    ScriptFixture f;
    Recorder recorder;
    recorder.stopAfter = 2;
    EXPECT_EQ(ReadWithSink(bytes, &recorder, &f.script), 1) << "nothing rejected before the stop";
    EXPECT_EQ(recorder.lines.size(), 2u);
    EXPECT_EQ(f.Commands().size(), 1u);

    ScriptFixture g;
    std::string path = MakeTestDir("script_report") + "Lumiupd.INF";
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    FILE *file = fopen(path.c_str(), "rt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadScriptStreamEx(file, &g.script, nullptr, nullptr), 0);
    fclose(file);
    EXPECT_EQ(g.script.kakunin, nullptr) << "without a sink the reading stops like the updater's";
}

} // namespace
