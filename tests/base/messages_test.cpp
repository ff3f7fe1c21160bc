#include "base/messages.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

// The texts are compiled from UTF-8 sources into code page 932; these are the
// bytes a user's machine must find.
TEST(Messages, TextsAreCodePage932Bytes)
{
    // 正常に更新しました。
    EXPECT_EQ(std::string(MessageTable[0]),
              "\x90\xB3\x8F\xED\x82\xC9\x8D\x58\x90\x56\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42");
    // 確認 / 終了
    EXPECT_EQ(std::string(CAPTION_CONFIRM), "\x8A\x6D\x94\x46");
    EXPECT_EQ(std::string(CAPTION_FINISHED), "\x8F\x49\x97\xB9");
    // (6) closes the gate's text
    std::string six = MessageTable[6];
    EXPECT_EQ(six.substr(six.size() - 3), "(6)");
    EXPECT_EQ(std::string(MessageTable[3]) + "(6)", six);
}

TEST(Messages, SystemConvertsThemBackToTheSameJapanese)
{
    wchar_t wide[64] = {};
    ASSERT_GT(MultiByteToWideChar(932, 0, MessageTable[2], -1, wide, 64), 0);
    EXPECT_EQ(std::wstring(wide), L"\u8A2D\u5B9A\u30D5\u30A1\u30A4\u30EB\u306E\u8AAD\u307F\u8FBC\u307F\u306B\u5931\u6557\u3057\u307E\u3057\u305F\u3002");
}
