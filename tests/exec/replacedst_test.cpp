// The placeholder replacement itself, without the file system.
#include "exec/replacedst.h"

#include <string.h>

#include <gtest/gtest.h>

namespace {

std::string Replace(const std::string &text, const std::string &insert, size_t size = 520, int *result = nullptr)
{
    std::vector<char> buf(size + 8, '#');
    memcpy(buf.data(), text.c_str(), text.size() + 1);
    int r = ReplacePlaceholder(buf.data(), size, insert.c_str());
    if (result)
        *result = r;
    for (size_t i = size; i < buf.size(); i++)
        EXPECT_EQ(buf[i], '#') << "written past the buffer at " << i;
    return buf.data();
}

TEST(ReplacePlaceholder, EveryPlaceholderLeftToRight)
{
    EXPECT_EQ(Replace("%DSTPATH%a.exe,%DSTPATH%b.dat", "C:\\PROGRA~1\\APP\\"),
              "C:\\PROGRA~1\\APP\\a.exe,C:\\PROGRA~1\\APP\\b.dat");
    EXPECT_EQ(Replace("%DSTPATH%%DSTPATH%", "X\\"), "X\\X\\");
    EXPECT_EQ(Replace("no placeholder", "X\\"), "no placeholder");
    EXPECT_EQ(Replace("%%DSTPATH%%", "X\\"), "%X\\%");
    EXPECT_EQ(Replace("ソフト%DSTPATH%表", "D:\\"), "ソフトD:\\表");
}

TEST(ReplacePlaceholder, ShortInsertKeepsTheTextAroundIt)
{
    EXPECT_EQ(Replace("run %DSTPATH%setup.exe -q", "D:\\RT\\"), "run D:\\RT\\setup.exe -q");
    EXPECT_EQ(Replace("%DSTPATH%", ""), "");
}

TEST(ReplacePlaceholder, OtherLetterCaseIsLeftAlone)
{
    EXPECT_EQ(Replace("%dstpath%a %DstPath%b %DSTPATH%c", "X\\"), "%dstpath%a %DstPath%b X\\c");
}

TEST(ReplacePlaceholder, InsertedTextIsNeverSearched)
{
    EXPECT_EQ(Replace("%DSTPATH%x", "C:\\%DSTPATH%\\"), "C:\\%DSTPATH%\\x");
    EXPECT_EQ(Replace("%DSTPATH%", "%DSTPATH"), "%DSTPATH");
    EXPECT_EQ(Replace("%DSTPATH%DSTPATH%", "%"), "%DSTPATH%");
}

TEST(ReplacePlaceholder, AResultThatDoesNotFitIsRefusedAndTheTextKept)
{
    std::string folder(250, 'f');
    int result = 0;
    // 9 + 9 + 1 bytes of text; each placeholder grows it by 241.
    std::string text = "%DSTPATH%%DSTPATH%x";
    EXPECT_EQ(Replace(text, folder, 520, &result), folder + folder + "x");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Replace(text, folder, 501, &result), text);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Replace(text, folder, 502, &result), folder + folder + "x");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Replace("%DSTPATH%%DSTPATH%%DSTPATH%", folder, 520, &result), "%DSTPATH%%DSTPATH%%DSTPATH%");
    EXPECT_EQ(result, 0);
}

} // namespace
