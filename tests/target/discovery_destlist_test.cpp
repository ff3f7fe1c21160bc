// The destination list's rules: one entry per folder, registry strings bounded.
#include "target/destlist.h"
#include "testlists.h"

#include <string.h>

#include <gtest/gtest.h>

namespace {

TEST(DestinationList, FoldersOnceIgnoringAsciiCaseOnly)
{
    StringList dsts;
    EXPECT_EQ(AppendFolderOnce(dsts.get(), "C:\\App\\"), 1);
    EXPECT_EQ(AppendFolderOnce(dsts.get(), "c:\\aPP\\"), 0);
    EXPECT_EQ(AppendFolderOnce(dsts.get(), "D:\\ａ\\"), 1);
    // Full-width letters are no ASCII letters: a different folder.
    EXPECT_EQ(AppendFolderOnce(dsts.get(), "D:\\Ａ\\"), 1);
    EXPECT_EQ(AppendFolderOnce(dsts.get(), "C:\\App"), 1) << "the backslash is added before comparing";
    EXPECT_EQ(dsts.Items(), std::vector<std::string>({"C:\\App\\", "D:\\ａ\\", "D:\\Ａ\\", "C:\\App"}));
}

TEST(DestinationList, RegistryValuesNeverReadPastTheirBuffer)
{
    char value[8];
    memset(value, 'x', sizeof(value));
    EXPECT_EQ(TerminateValue(value, sizeof(value), 3), 1);
    EXPECT_STREQ(value, "xxx");
    memset(value, 'x', sizeof(value));
    EXPECT_EQ(TerminateValue(value, sizeof(value), 0), 1);
    EXPECT_STREQ(value, "");
    // Filled to the last byte: fine with a terminator there, refused without.
    memcpy(value, "abcdefg", 8);
    EXPECT_EQ(TerminateValue(value, sizeof(value), 8), 1);
    EXPECT_STREQ(value, "abcdefg");
    memset(value, 'x', sizeof(value));
    EXPECT_EQ(TerminateValue(value, sizeof(value), 8), 0);
    EXPECT_EQ(TerminateValue(value, sizeof(value), 9), 0);
    EXPECT_EQ(TerminateValue(value, 0, 0), 0);
}

} // namespace
