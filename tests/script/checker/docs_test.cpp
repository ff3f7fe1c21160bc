// The guide shows real files and real output: its example script is
// docs/examples/Lumiupd.INF, and its sample of the checker's output is what
// the checker prints for docs/examples/broken.INF.
#include "checkrun.h"
#include "testutil.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> GuideLines()
{
    return SplitLines(Utf8ToAnsi(ReadFileBytes(SourceRoot() + "docs\\guide.md")));
}

// The indented block that begins with the line first, without its indent.
std::vector<std::string> IndentedBlock(const std::vector<std::string> &lines, const std::string &first)
{
    std::vector<std::string> block;
    bool inside = false;
    for (const std::string &line : lines) {
        if (!inside && line == "    " + first)
            inside = true;
        if (!inside)
            continue;
        if (line.compare(0, 4, "    ") != 0)
            break;
        block.push_back(line.substr(4));
    }
    return block;
}

// The findings (paths from folder on) and the result (the summary shows this
// machine's folders).
std::vector<std::string> Reported(const std::vector<std::string> &lines, const std::string &folder)
{
    CheckRun run;
    run.lines = lines;
    std::vector<std::string> out = run.Findings(folder);
    for (const std::string &result : run.Starting("RESULT: "))
        out.push_back(result);
    return out;
}

TEST(CheckerDocs, GuideExampleScriptIsTheExampleFileAndPassesCleanly)
{
    std::string path = SourceRoot() + "docs\\examples\\Lumiupd.INF";
    std::vector<std::string> block = IndentedBlock(GuideLines(), "; comment lines start with \";\" in the first column");
    ASSERT_GT(block.size(), 10u);
    EXPECT_EQ(CrLf(block), ReadFileBytes(path));
    CheckRun run = RunChecker("\"" + path + "\"");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.Findings(SourceRoot()).empty()) << run.output;
}

TEST(CheckerDocs, GuideSampleOutputIsWhatTheCheckerPrints)
{
    std::vector<std::string> block = IndentedBlock(GuideLines(), "$ make check-script SCRIPT=docs/examples/broken.INF");
    ASSERT_GT(block.size(), 3u);
    CheckRun run = RunChecker("\"" + SourceRoot() + "docs\\examples\\broken.INF\"");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(Reported(block, "docs/examples/"), Reported(run.lines, SourceRoot() + "docs\\examples\\")) << run.output;
}

// The summary the guide shows is the example script's, as this checker
// prints it: its command lines follow the file.
TEST(CheckerDocs, GuideSampleSummaryIsTheExampleScripts)
{
    std::vector<std::string> block = IndentedBlock(GuideLines(), "SUMMARY");
    ASSERT_GT(block.size(), 10u);
    CheckRun run = RunChecker("\"" + SourceRoot() + "docs\\examples\\Lumiupd.INF\"");
    ASSERT_EQ(run.exitCode, 0u);
    auto start = std::find(run.lines.begin(), run.lines.end(), "SUMMARY");
    EXPECT_EQ(block, std::vector<std::string>(start, run.lines.end())) << run.output;
}

} // namespace
