// The installed list written by the updater against the platform's own
// profile functions: the same settings file edited by AddInstalledId and by
// GetPrivateProfileStringA + WritePrivateProfileStringA must read back alike
// through GetPrivateProfileStringA, INSTALLED and every other key. The files
// are the shapes that profile readers disagree on, then random ones from a
// fixed seed.
#include "exec/history.h"
#include "exec/historytext.h"
#include "exec_testutil.h"
#include "testutil.h"

#include <stdlib.h>

#include <random>
#include <string>

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

// The settings file as the platform reads it: every section with every key
// and value, in order.
std::string ReadBack(const std::string &ini)
{
    std::vector<char> names(1 << 16), keys(1 << 16);
    char value[4096];
    DWORD n = GetPrivateProfileSectionNamesA(names.data(), (DWORD)names.size(), ini.c_str());
    std::string text;
    for (const char *section = names.data(); section < names.data() + n && *section;
         section += strlen(section) + 1) {
        text += "[" + std::string(section) + "]\n";
        DWORD k = GetPrivateProfileStringA(section, nullptr, "", keys.data(), (DWORD)keys.size(), ini.c_str());
        for (const char *key = keys.data(); key < keys.data() + k && *key; key += strlen(key) + 1) {
            GetPrivateProfileStringA(section, key, "", value, sizeof(value), ini.c_str());
            text += std::string(key) + "=" + value + "\n";
        }
    }
    GetPrivateProfileStringA("MAIN", "INSTALLED", "(none)", value, sizeof(value), ini.c_str());
    return text + "INSTALLED: " + value + "\n";
}

// Registering the id with the platform's own profile calls.
void RegisterByThePlatform(const std::string &ini, const std::string &id)
{
    char old[1024];
    GetPrivateProfileStringA("MAIN", "INSTALLED", "", old, sizeof(old), ini.c_str());
    char *merged = MergeInstalledIds(old, id.c_str());
    ASSERT_NE(merged, nullptr);
    EXPECT_TRUE(WritePrivateProfileStringA("MAIN", "INSTALLED", merged, ini.c_str()));
    free(merged);
}

std::string Printable(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        char hex[8];
        snprintf(hex, sizeof(hex), "\\x%02X", c);
        out += c >= 0x20 && c < 0x7F && c != '\\' ? std::string(1, (char)c) : hex;
    }
    return out;
}

enum Encoding { ANSI, UTF8, UTF16 };

// text (code page 932) in the file's encoding, with its byte order mark.
std::string Encoded(const std::string &text, Encoding encoding)
{
    if (encoding == ANSI)
        return text;
    std::wstring wide(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), &wide[0], (int)wide.size());
    wide.resize(n);
    if (encoding == UTF16)
        return std::string("\xFF\xFE") + std::string((const char *)wide.data(), wide.size() * 2);
    std::string utf8(wide.size() * 3 + 1, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &utf8[0], (int)utf8.size(), nullptr,
                                    nullptr));
    return "\xEF\xBB\xBF" + utf8;
}

// One settings file edited both ways; the folders are made afresh.
void ExpectAlike(const std::string &bytes, const std::string &id, int number)
{
    static std::string root = MakeTestDir("installed_corpus");
    std::string ours = root + "o" + std::to_string(number) + "\\";
    std::string theirs = root + "p" + std::to_string(number) + "\\";
    ASSERT_TRUE(CreateDirectoryA(ours.c_str(), nullptr) && CreateDirectoryA(theirs.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(ours + "MIRO42.INI", bytes) && WriteFileBytes(theirs + "MIRO42.INI", bytes));
    EXPECT_NE(AddInstalledId(ours.c_str(), id.c_str()), 0);
    RegisterByThePlatform(theirs + "MIRO42.INI", id);
    EXPECT_EQ(ReadBack(ours + "MIRO42.INI"), ReadBack(theirs + "MIRO42.INI"))
        << "file " << number << ": " << Printable(bytes) << "\nours: " << Printable(ReadFileBytes(ours + "MIRO42.INI"));
}

// The shapes the profile functions read otherwise than a plain reader does.
const std::string kShapes[] = {
    "[MAIN]\rINSTALLED=U0\rX=2\r"s,
    "[MAIN]\r\nINSTALLED=U0\r\r\nX=2\r\n"s,
    "[MAIN]\n\rINSTALLED=U0\n\rX=2"s,
    "[MAIN]]\r\nINSTALLED=U0\r\nX=2\r\n"s,
    "[MAIN] ; see [X]\r\nINSTALLED=U0\r\nX=2\r\n"s,
    "[MAIN]\x83]\r\nINSTALLED=U0\r\nX=2\r\n"s,
    "[MAIN\x83]\r\nINSTALLED=U0\r\nX=2\r\n"s,
    "[ \x0bMAIN\x1a ]\r\n\x0bINSTALLED\x0c=\x1aU0,U1\x1a\r\nX=2\r\n"s,
    "[MAIN]\r\n\x81\x40INSTALLED\x81\x40=U0\r\nX=2\r\n"s,
    "  [MAIN]  x\r\n  INSTALLED  =  \"U0\"  \r\nX=2"s,
    "[MAIN]\r\nINSTALLED\r\nX=2\r\n"s,
    "[MAIN]\r\nX=2\r\n[MAIN]\r\nINSTALLED=U0\r\n"s,
    "X=1\r\nINSTALLED=U9\r\n[VIEW]\r\nW=1"s,
    "[MAIN]\r\n;INSTALLED=U0\r\n=U5\r\nINSTALLED=U0,ソフト,U0\r\ninstalled=U7\r\n"s,
    "[main]\r\ninstalled='U0'\r\n[VIEW]\r\nINSTALLED=U8\r\n"s,
    "[MAIN\0]\r\nINSTALLED\0x=U0\0junk\r\nX=2\r\n"s,
    "[]\r\nINSTALLED=U0\r\n[MAIN]X\r\nY=3"s,
    ""s,
};

TEST(InstalledCorpus, TheShapesReadBackAsThePlatformWritesThem)
{
    int number = 0;
    for (Encoding encoding : {ANSI, UTF8, UTF16})
        for (const std::string &shape : kShapes) {
            ExpectAlike(Encoded(shape, encoding), number % 2 ? "U1" : "ソフト", number);
            number++;
        }
    // What cannot be written back as it was is left alone, and the trace
    // says why: UTF-16 the other way round (which Windows does not read as
    // such) and UTF-16 of an odd length.
    std::string wide = Encoded("[MAIN]\r\nINSTALLED=U0\r\n", UTF16);
    std::string swapped = wide;
    for (size_t i = 0; i + 1 < swapped.size(); i += 2)
        std::swap(swapped[i], swapped[i + 1]);
    std::string refused = SystemText(ERROR_BAD_FORMAT);
    for (const std::string &bytes : {swapped, wide + "A"}) {
        std::string dir = MakeTestDir("installed_refused");
        ASSERT_TRUE(WriteFileBytes(dir + "MIRO42.INI", bytes));
        StartTrace();
        EXPECT_EQ(AddInstalledId(dir.c_str(), "U1"), 0);
        EXPECT_EQ(ReadFileBytes(dir + "MIRO42.INI"), bytes);
        std::vector<std::string> lines = TraceLines();
        EXPECT_EQ(lines.size(), 1u);
        EXPECT_TRUE(HasLineStartingWith(lines, "\t\tINSTALLED not written - " +
                                                   refused.substr(0, refused.find_last_not_of("\r\n") + 1)));
    }
}

// A random settings file of the pieces the shapes are made of.
std::string RandomSettings(std::mt19937 &random)
{
    static const char *const names[] = {"MAIN", "main", " MAIN ", "MAIN]", "VIEW", "MAIN\x83]", "X"};
    static const char *const keys[] = {"INSTALLED", "installed", " INSTALLED\x0b", ";INSTALLED", "", "NAME", "X"};
    static const char *const values[] = {"U0", "U0,U1,U0", " \"U1,ソフト\" ", "'U2'", "", ",,U3,", "\x1aU4\x0c"};
    static const char *const ends[] = {"\r\n", "\n", "\r", "\r\r\n", "\n\r", "\r\n\r\n"};
    std::string text;
    int lines = (int)(random() % 9);
    for (int i = 0; i < lines; i++) {
        switch (random() % 4) {
        case 0:
            text += std::string(random() % 3 ? "" : " ") + "[" + names[random() % 7] + "]" + (random() % 4 ? "" : " ;c");
            break;
        case 1:
            text += std::string(keys[random() % 7]) + (random() % 3 ? "=" : " = ") + values[random() % 7];
            break;
        case 2:
            text += random() % 2 ? "\x0c" : "";
            break;
        default:
            text += std::string(keys[random() % 7]) + "=" + values[random() % 7];
        }
        if (i + 1 < lines || random() % 2)
            text += ends[random() % 6];
    }
    return text;
}

TEST(InstalledCorpus, RandomFilesReadBackAsThePlatformWritesThem)
{
    std::mt19937 random(28);
    for (int number = 100; number < 400; number++) {
        std::string text = RandomSettings(random);
        Encoding encoding = (Encoding)(random() % 5 < 3 ? ANSI : random() % 2 ? UTF8 : UTF16);
        ExpectAlike(Encoded(text, encoding), random() % 2 ? "U0" : "ソフト", number);
    }
}

} // namespace
