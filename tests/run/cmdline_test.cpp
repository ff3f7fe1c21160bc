#include "run/cmdline.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

namespace {

CommandLineOptions Parse(const std::string &line)
{
    CommandLineOptions cl;
    memset(&cl, 0, sizeof(cl));
    ParseCommandLine(line.c_str(), &cl);
    return cl;
}

TEST(CommandLine, OptionsAnyCaseAnyOrder)
{
    EXPECT_EQ(Parse("").flag, 0);
    EXPECT_STREQ(Parse("").dst, "");
    EXPECT_EQ(Parse("/SILENT -Auto").flag, 3);
    EXPECT_EQ(Parse("-auto").flag, 1);
    EXPECT_EQ(Parse("C:\\x /silent -silent").flag, 2);
    EXPECT_EQ(Parse("-\"auto\"").flag, 1);
    EXPECT_EQ(Parse("-unknown /x").flag, 0);
    // Unattended brings auto and silent with it, wherever it stands.
    EXPECT_EQ(Parse("C:\\x /UnAttended").flag, 7);
    EXPECT_STREQ(Parse("-unattended C:\\x").dst, "C:\\x\\");
    EXPECT_EQ(Parse("-unattend").flag, 0);
    // The dry run: any prefix and case, anywhere, its report's path after
    // "=" (quoted for a blank); it leaves the flags and the destination be.
    CommandLineOptions w = Parse("C:\\x /WhatIf -auto");
    EXPECT_EQ(w.whatIf, 1);
    EXPECT_EQ(w.flag, 1);
    EXPECT_STREQ(w.whatIfPath, "");
    EXPECT_STREQ(w.dst, "C:\\x\\");
    w = Parse("-whatif=\"C:\\a b\\r.txt\" C:\\y");
    EXPECT_EQ(w.whatIf, 1);
    EXPECT_STREQ(w.whatIfPath, "C:\\a b\\r.txt");
    EXPECT_STREQ(w.dst, "C:\\y\\");
    EXPECT_EQ(Parse("-what").whatIf, 0);
    EXPECT_EQ(Parse("\"-whatif\"").whatIf, 0);
    w = Parse("--WhatIf=r.txt");
    EXPECT_EQ(w.whatIf, 1);
    EXPECT_EQ(w.whatIfRefused, 0);
    EXPECT_STREQ(w.whatIfPath, "r.txt");
    w = Parse("-/-whatif");
    EXPECT_EQ(w.whatIf, 1);
    EXPECT_EQ(w.whatIfRefused, 0);
    // Any other option naming the dry run is one that refuses, never an
    // unknown option (which would have made the run a real update).
    for (const std::string &bad : {std::string("-whatifx"), std::string("/whatif:r.txt"), std::string("-/WhatIf:x"),
                                   "-whatif=" + std::string(CL_TOKEN_MAX, 'r')}) {
        SCOPED_TRACE(bad.substr(0, 16));
        w = Parse(bad + " -auto");
        EXPECT_EQ(w.whatIf, 1);
        EXPECT_EQ(w.whatIfRefused, 1);
        EXPECT_EQ(w.flag, 1);
        EXPECT_EQ(std::string(w.whatIfRefusedOption), bad.substr(1, CL_TOKEN_MAX));
    }
    // A later well-formed one does not undo the refusal.
    EXPECT_EQ(Parse("-whatif:a -whatif").whatIfRefused, 1);
    // The result file's path: any case, either prefix, quoted, anywhere; it
    // is neither a flag nor the destination.
    CommandLineOptions cl = Parse("C:\\x /RESULT=\"C:\\out dir\\r.json\" -auto");
    EXPECT_STREQ(cl.result, "C:\\out dir\\r.json");
    EXPECT_EQ(cl.flag, 1);
    EXPECT_STREQ(cl.dst, "C:\\x\\");
    EXPECT_STREQ(Parse("-result=a.json -Result=b.json").result, "b.json");
    EXPECT_STREQ(Parse("-result= -results=x -result").result, "");
    EXPECT_STREQ(Parse("-result= -results=x -result").dst, "");
    // Both at once: each option keeps its own path.
    w = Parse("-result=r.json /WHATIF=w.txt");
    EXPECT_STREQ(w.result, "r.json");
    EXPECT_STREQ(w.whatIfPath, "w.txt");
}

TEST(CommandLine, PrefixRules)
{
    CommandLineOptions cl = Parse("\"-auto\"");
    EXPECT_EQ(cl.flag, 0);
    EXPECT_STREQ(cl.dst, "-auto\\");
    EXPECT_EQ(Parse("-").flag, 0);
    EXPECT_STREQ(Parse("C:\\a -").dst, "C:\\a\\");
    EXPECT_EQ(Parse("- auto").flag, 0);         // the option is " auto"
    EXPECT_STREQ(Parse("- auto").dst, "");
    EXPECT_EQ(Parse("-/auto").flag, 0);         // the option is "/auto"
    EXPECT_EQ(Parse("/auto/silent").flag, 0);   // one option "auto/silent"
}

TEST(CommandLine, DestinationTokens)
{
    EXPECT_STREQ(Parse("\"C:\\Program Files\\App\"").dst, "C:\\Program Files\\App\\");
    EXPECT_STREQ(Parse("C:\\a C:\\b").dst, "C:\\b\\");
    EXPECT_STREQ(Parse("x\"y z\"w").dst, "w\\");
    EXPECT_STREQ(Parse("x\"y z\"").dst, "xy z\\");
    EXPECT_STREQ(Parse("C:\\a \"\"").dst, "");
    EXPECT_STREQ(Parse("C:\\a \"").dst, "");
    EXPECT_STREQ(Parse("C:\\a\\").dst, "C:\\a\\");
    EXPECT_STREQ(Parse("\"C:\\un terminated").dst, "C:\\un terminated\\");
    EXPECT_STREQ(Parse("\tC:\\tab\t-auto").dst, "C:\\tab\\");
}

TEST(CommandLine, TrailByteBackslashStillGetsOne)
{
    // C:\ソ ends in the character ソ (83 5C), not in a backslash.
    EXPECT_STREQ(Parse("C:\\\x83\x5C").dst, "C:\\\x83\x5C\\");
}

TEST(CommandLine, OverlongTokens)
{
    std::string max(CL_TOKEN_MAX, 'a');
    CommandLineOptions cl = Parse(max);
    EXPECT_EQ(strlen(cl.dst), (size_t)CL_TOKEN_MAX + 1);
    EXPECT_EQ(cl.dstTooLong, 0);

    cl = Parse("C:\\ok " + max + "b -silent");
    EXPECT_STREQ(cl.dst, "");
    EXPECT_EQ(cl.dstTooLong, 1);
    EXPECT_EQ(cl.flag, 2);

    // A later valid destination wins over an overlong one.
    cl = Parse(max + "b C:\\later");
    EXPECT_STREQ(cl.dst, "C:\\later\\");
    EXPECT_EQ(cl.dstTooLong, 0);

    // An overlong option is an unknown option.
    cl = Parse("-" + std::string(400, 'x') + " -auto");
    EXPECT_EQ(cl.flag, 1);
    EXPECT_EQ(cl.dstTooLong, 0);
}

} // namespace
