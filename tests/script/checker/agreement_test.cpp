// The checker and the updater agree on every script of the test suite: the
// checker accepts (0) exactly what the updater reads, and refuses (1) exactly
// what makes the updater end with code 2.
#include "checkercases.h"
#include "checkrun.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

void ExpectAgreement(const std::string &what, const std::string &script)
{
    SCOPED_TRACE(what);
    CheckRun check = CheckScriptBytes("checker_agree", script);
    ASSERT_FALSE(check.timedOut);
    ASSERT_TRUE(check.exitCode == 0 || check.exitCode == 1) << check.exitCode << "\n" << check.output;
    int verdict = UpdaterVerdict(script);
    ASSERT_TRUE(verdict == 2 || verdict == 6) << "the updater ended with " << verdict;
    EXPECT_EQ(check.exitCode == 0, verdict == 6) << "checker " << check.exitCode << ", updater " << verdict << "\n"
                                                 << check.output;
}

TEST(CheckerAgreement, EveryScriptTheCheckerTestsWrite)
{
    int refused = 0;
    for (const CheckerCase &c : CheckerCases())
        refused += c.exitCode;
    EXPECT_GT(refused, 5) << "both verdicts are well represented";
    EXPECT_GT((int)CheckerCases().size() - refused, 5);
    for (const auto &script : AllCheckerScripts())
        ExpectAgreement(script.first, script.second);
}

TEST(CheckerAgreement, EveryScriptFileUnderTestsAndDocs)
{
    std::vector<std::string> files;
    for (const char *folder : {"tests\\", "docs\\"}) {
        for (const std::string &file : FindFiles(SourceRoot() + folder, ".INF"))
            files.push_back(file);
    }
    ASSERT_GE(files.size(), 2u) << "the guide's examples are script files";
    for (const std::string &file : files) {
        std::string script = ReadFileBytes(file);
        ASSERT_FALSE(script.empty()) << file;
        ExpectAgreement(file, script);
    }
}

} // namespace
