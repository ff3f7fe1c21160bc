// The result file's strings: whatever bytes a path, a box or a system text
// holds, the record stays JSON in UTF-8.
#include "run/resultfile.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

std::string Json(const char *text)
{
    JsonText out;
    memset(&out, 0, sizeof(out));
    JsonString(&out, text);
    std::string s = out.failed || !out.text ? "(failed)" : out.text;
    free(out.text);
    return s;
}

TEST(ResultFile, StringsAreEscapedUtf8WhateverTheBytes)
{
    EXPECT_EQ(Json(""), "\"\"");
    EXPECT_EQ(Json("C:\\a \"b\"\r\n\t\x01"), "\"C:\\\\a \\\"b\\\"\\r\\n\\t\\u0001\"");
    // 更新 and a half-width ｱ (one byte in code page 932).
    EXPECT_EQ(Json("更新\xB1"), std::string("\"") + u8"更新ｱ" + "\"");
    // ソ ends in 5C, which is no backslash here.
    EXPECT_EQ(Json("\x83\x5C"), std::string("\"") + u8"ソ" + "\"");
    // A lead byte at the end, or before a byte that cannot follow it.
    EXPECT_EQ(Json("a\x81"), "\"a\xEF\xBF\xBD\"");
    EXPECT_EQ(Json("\x81\x1F" "b"), "\"\xEF\xBF\xBD\\u001fb\"");
}

} // namespace
