#include "base/strutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(std::string text, char delim, int capacity, int *count)
{
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    std::vector<char *> pieces(capacity + 2, nullptr);
    char *guard = reinterpret_cast<char *>(0x1);
    pieces[capacity] = guard;
    *count = SplitInPlace(buf.data(), pieces.data(), capacity, delim);
    EXPECT_EQ(pieces[capacity], guard) << "wrote past the table";
    std::vector<std::string> out;
    for (int i = 0; i < *count && i < capacity; i++)
        out.push_back(pieces[i]);
    return out;
}

TEST(SplitInPlace, PiecesAndEmptyPieces)
{
    int n;
    EXPECT_EQ(Split("a=b", '=', 16, &n), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Split("abc", '=', 16, &n), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(Split("", ',', 16, &n), (std::vector<std::string>{""}));
    EXPECT_EQ(Split("a,,b", ',', 16, &n), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(Split("a;", ';', 16, &n), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(SplitInPlace(nullptr, nullptr, 16, ','), 0);
}

TEST(SplitInPlace, DoubleByteTextCutOnlyAtRealCommas)
{
    int n;
    // ソ (83 5C) and ポ (83 7C) hold trail bytes above 0x40; commas are below.
    auto pieces = Split("\x83\x5C\x83\x74\x83\x67,\x83\x7C", ',', 16, &n);
    EXPECT_EQ(pieces, (std::vector<std::string>{"\x83\x5C\x83\x74\x83\x67", "\x83\x7C"}));
}

TEST(SplitInPlace, MorePiecesThanTheTableNeverOverrun)
{
    int n;
    auto pieces = Split("1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18", ';', 16, &n);
    EXPECT_EQ(n, 18);
    ASSERT_EQ(pieces.size(), 16u);
    EXPECT_EQ(pieces[15], "16");
    pieces = Split("a/b/c", '/', 2, &n);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(pieces, (std::vector<std::string>{"a", "b"}));
}

std::string Join(const char *folder, const char *name, size_t size = 520)
{
    std::vector<char> out(size, 'X');
    if (!JoinPath(out.data(), size, folder, name))
        return "<refused>";
    return out.data();
}

TEST(JoinPath, AddsOneBackslashWhereNeeded)
{
    EXPECT_EQ(Join("C:", "*"), "C:\\*");
    EXPECT_EQ(Join("C:\\a\\", "*"), "C:\\a\\*");
    EXPECT_EQ(Join("", "*"), "*");
    EXPECT_EQ(Join("a", "*"), "a\\*");
    // A folder ending in ソ ends in a character, not in a backslash.
    EXPECT_EQ(Join("C:\\\x83\x5C", "*"), "C:\\\x83\x5C\\*");
}

TEST(JoinPath, RefusesWhatDoesNotFit)
{
    EXPECT_EQ(Join("abc", "d", 6), "abc\\d");
    EXPECT_EQ(Join("abc", "de", 6), "<refused>");
}

TEST(MultibyteSearch, TrailBytesAreNotBackslashes)
{
    const char *path = "C:\\\x83\x5C\x83\x74\x83\x67";  // C:\ソフト
    EXPECT_EQ(MbsRChr(path, '\\'), path + 2);
    EXPECT_EQ(MbsChr("\x83\x5C", '\\'), nullptr);
    EXPECT_STREQ(MbsChr("a\\b", '\\'), "\\b");
    EXPECT_EQ(MbsLastChar(""), nullptr);
    EXPECT_EQ(MbsLastChar(path), path + 7);
}

TEST(AddBackslash, ByCharactersAndBounded)
{
    char buf[8] = "\x83\x5C";
    EXPECT_EQ(AddBackslash(buf, sizeof(buf)), 1);
    EXPECT_STREQ(buf, "\x83\x5C\\");
    EXPECT_EQ(AddBackslash(buf, sizeof(buf)), 1);
    EXPECT_STREQ(buf, "\x83\x5C\\");
    char empty[4] = "";
    EXPECT_EQ(AddBackslash(empty, sizeof(empty)), 1);
    EXPECT_STREQ(empty, "");
    char full[4] = "abc";
    EXPECT_EQ(AddBackslash(full, sizeof(full)), 0);
    EXPECT_STREQ(full, "abc");
}

// A text cut after a lead byte: the backslash would pair with it into a
// character (0x83 0x5C), so no separator would be there at all.
TEST(AddBackslash, RefusedAfterALoneLeadByte)
{
    char buf[8] = "ab\x83";
    EXPECT_EQ(AddBackslash(buf, sizeof(buf)), 0);
    EXPECT_STREQ(buf, "ab\x83");
    EXPECT_EQ(Join("C:\\x\x83", "RT_IDX.DAT"), "<refused>");
    // A lead byte followed by its trail byte is a whole character.
    char whole[8] = "ab\x83\x83";
    EXPECT_EQ(AddBackslash(whole, sizeof(whole)), 1);
    EXPECT_STREQ(whole, "ab\x83\x83\\");
}

TEST(BoundedCopies, RefuseInsteadOfCutting)
{
    char buf[4];
    EXPECT_EQ(StrCopy(buf, sizeof(buf), "abc"), 1);
    EXPECT_EQ(StrCopy(buf, sizeof(buf), "abcd"), 0);
    EXPECT_STREQ(buf, "");
    StrCopy(buf, sizeof(buf), "ab");
    EXPECT_EQ(StrAppend(buf, sizeof(buf), "cd"), 0);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(StrAppend(buf, sizeof(buf), "c"), 1);
    EXPECT_STREQ(buf, "abc");
}

TEST(AsciiStricmp, FoldsOnlyAsciiLetters)
{
    EXPECT_EQ(AsciiStricmp("SiLeNt", "silent"), 0);
    EXPECT_NE(AsciiStricmp("auto", "autox"), 0);
    // Full-width Ａ (82 60) and ａ (82 81) are different characters.
    EXPECT_NE(AsciiStricmp("\x82\x60", "\x82\x81"), 0);
}

} // namespace

namespace {

TEST(PathLastComponent, EitherSeparatorButNoTrailByte)
{
    EXPECT_STREQ(PathLastComponent("bin\\prog.Exe"), "prog.Exe");
    EXPECT_STREQ(PathLastComponent("bin/PROG.dll"), "PROG.dll");
    EXPECT_STREQ(PathLastComponent("a/b\\c"), "c");
    EXPECT_STREQ(PathLastComponent("a\\b/c"), "c");
    EXPECT_STREQ(PathLastComponent("prog"), "prog");
    // ソフト.exe: the trail byte 0x5C of ソ is no separator.
    EXPECT_STREQ(PathLastComponent("\x83\x5C\x83\x74\x83\x67.exe"), "\x83\x5C\x83\x74\x83\x67.exe");
}

} // namespace
