// The shortcut name rules on their own, byte by byte.
#include "exec/shortcutname.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(ShortcutName, IsTheTextAfterTheLastBackslashCharacter)
{
    EXPECT_STREQ(ShortcutNameOf("C:\\Links\\App"), "App");
    EXPECT_STREQ(ShortcutNameOf("C:\\Links\\"), "");
    EXPECT_STREQ(ShortcutNameOf("C:\\表示\\ソフト"), "ソフト");
    // ソ ends in 0x5C: "C:\ソ" has its last backslash after the drive.
    EXPECT_STREQ(ShortcutNameOf("C:\\ソ"), "ソ");
    EXPECT_EQ(ShortcutNameOf("Link"), nullptr);
    EXPECT_EQ(ShortcutNameOf("ソフト"), nullptr);
}

TEST(ShortcutName, ForbiddenCharactersCountOnlyAsCharacters)
{
    for (const char *name : {"", "App", "ソフト", "ポイント", "ルミテル 更新", "a b", "表"})
        EXPECT_TRUE(IsValidShortcutName(name)) << name;
    for (char c : std::string("\\/:*\"<>.|?")) {
        std::string name = std::string("ソ") + c + "ポ";
        EXPECT_FALSE(IsValidShortcutName(name.c_str())) << name;
    }
    EXPECT_FALSE(IsValidShortcutName("a.b"));
    EXPECT_FALSE(IsValidShortcutName("ソフト.lnk"));
    // A lead byte with nothing to finish it would pair with ".lnk".
    EXPECT_FALSE(IsValidShortcutName("ab\x83"));
}

} // namespace
