// The checker's byte rules on their own: CP932 validity across the pieces
// of a long line, the placeholder's letter case, relative names.
#include "scripttext.h"

#include <string>

#include <gtest/gtest.h>

namespace {

struct Scan {
    Cp932Fault fault;
    size_t at;
    unsigned char lead;
};

Scan ScanText(Cp932Scan *state, const std::string &bytes)
{
    Scan scan = {CP932_VALID, 0, 0};
    scan.fault = ScanCp932(state, (const unsigned char *)bytes.data(), bytes.size(), &scan.at, &scan.lead);
    return scan;
}

TEST(CheckerText, Cp932LeadAndTrailRules)
{
    struct Case {
        std::string bytes;
        Cp932Fault fault;
        size_t at;
    } cases[] = {
        {"plain ASCII\t\n", CP932_VALID, 0},
        {"ソ表ポ ｱｲｳ", CP932_VALID, 0},                   // trail bytes 0x5C, 0x7C; half-width kana
        {"\x81\x40\x9F\xFC\xE0\x40\xFC\x7E", CP932_VALID, 0},  // the corners of lead and trail
        {"a\x80", CP932_BAD_BYTE, 1},
        {"ab\xA0", CP932_BAD_BYTE, 2},
        {"\xFD", CP932_BAD_BYTE, 0},
        {"\xFF", CP932_BAD_BYTE, 0},
        {"x\x81\x3F", CP932_BAD_TRAIL, 2},
        {"\x9F\x7F", CP932_BAD_TRAIL, 1},
        {"\xE0\xFD", CP932_BAD_TRAIL, 1},
        {"\x82\n", CP932_BAD_TRAIL, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        Cp932Scan state = {0};
        Scan scan = ScanText(&state, c.bytes);
        EXPECT_EQ(scan.fault, c.fault);
        if (c.fault != CP932_VALID) {
            EXPECT_EQ(scan.at, c.at);
        }
    }
}

TEST(CheckerText, Cp932CharacterSplitBetweenTwoPieces)
{
    Cp932Scan state = {0};
    EXPECT_EQ(ScanText(&state, "abc\x83").fault, CP932_VALID);
    EXPECT_EQ(state.pendingLead, 0x83);
    EXPECT_EQ(ScanText(&state, "\x8B rest").fault, CP932_VALID) << "the trail opens the next piece";
    EXPECT_EQ(ScanText(&state, "x\x83").fault, CP932_VALID);
    Scan bad = ScanText(&state, "\x20");
    EXPECT_EQ(bad.fault, CP932_BAD_TRAIL);
    EXPECT_EQ(bad.at, 0u);
    EXPECT_EQ(bad.lead, 0x83);
}

TEST(CheckerText, Utf8IsToldFromCp932)
{
    const std::string utf8 = "\xE6\x9B\xB4\xE6\x96\xB0";  // 更新 in UTF-8
    EXPECT_EQ(LooksLikeUtf8((const unsigned char *)utf8.data(), utf8.size()), 1);
    const std::string cp932 = "更新しますか？";
    EXPECT_EQ(LooksLikeUtf8((const unsigned char *)cp932.data(), cp932.size()), 0);
    EXPECT_EQ(LooksLikeUtf8((const unsigned char *)"ascii", 5), 0) << "nothing wide: no sign of UTF-8";
    EXPECT_EQ(LooksLikeUtf8((const unsigned char *)"\xE6\x9B", 2), 0) << "a cut sequence";
    EXPECT_EQ(LooksLikeUtf8((const unsigned char *)"\xC0\x80\xE6\x9B\xB4", 5), 0) << "an overlong form";
}

TEST(CheckerText, PlaceholderLetterCase)
{
    EXPECT_EQ(HasMiscasedDstPath("%DSTPATH%a.exe"), 0);
    EXPECT_EQ(HasMiscasedDstPath("%dstpath%a.exe"), 1);
    EXPECT_EQ(HasMiscasedDstPath("/in %DSTPATH% /out %DstPath%"), 1);
    EXPECT_EQ(HasMiscasedDstPath("%%DSTPATH%"), 0);
    EXPECT_EQ(HasMiscasedDstPath("%DSTPAT"), 0);
    EXPECT_EQ(HasDstPath("a%DSTPATH%"), 1);
    EXPECT_EQ(HasDstPath("a%dstpath%"), 0);
}

TEST(CheckerText, RelativeNamesAsTheUpdaterJoinsThem)
{
    EXPECT_EQ(IsRelativeScriptPath("data\\NEW.DAT"), 1);
    EXPECT_EQ(IsRelativeScriptPath(""), 1);
    EXPECT_EQ(IsRelativeScriptPath("\\\\server\\share\\a"), 0);
    EXPECT_EQ(IsRelativeScriptPath("\\root.dat"), 0);
    EXPECT_EQ(IsRelativeScriptPath("C:x.dat"), 0);
    EXPECT_EQ(IsRelativeScriptPath("\x83:x"), 1) << "a lead byte is no drive letter";

    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"data\\NEW.DAT", "data\\NEW.DAT"},   {".\\data\\..\\data\\\\x", "data\\x"}, {"a/b/./c", "a\\b\\c"},
        {"ソ\\表\\..\\x", "ソ\\x"},            {"ソフト\\表.dat", "ソフト\\表.dat"},
    };
    for (const Case &c : cases) {
        char out[260];
        EXPECT_EQ(NormalizeRelativePath(c.in, out, sizeof(out)), 1) << c.in;
        EXPECT_STREQ(out, c.out);
    }
    char out[260];
    EXPECT_EQ(NormalizeRelativePath("..\\x", out, sizeof(out)), 0) << "leaves the folder";
    EXPECT_EQ(NormalizeRelativePath("a\\..\\..\\x", out, sizeof(out)), 0);
    char small[4];
    EXPECT_EQ(NormalizeRelativePath("abcd", small, sizeof(small)), 0);
}

} // namespace
