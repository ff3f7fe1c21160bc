// INSTALLED of [MAIN] in MIRO42.INI, read back from the file's bytes by a
// reader of the test's own.
#include "exec/history.h"
#include "exec_testutil.h"
#include "testutil.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

namespace {

struct IniEntry {
    std::string section, key, value;
    bool operator==(const IniEntry &o) const { return section == o.section && key == o.key && value == o.value; }
};

std::string Trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t");
    size_t e = s.find_last_not_of(" \t");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// Every key of the file in order, with its section; lines that are neither
// are kept as keys without "=" (value "<line>").
std::vector<IniEntry> ParseIni(const std::string &bytes)
{
    std::vector<IniEntry> entries;
    std::string section;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        std::string line = bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? bytes.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        line = Trim(line);
        if (line.empty())
            continue;
        if (line[0] == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            entries.push_back({section, line, "<line>"});
        else
            entries.push_back({section, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))});
    }
    return entries;
}

std::string Installed(const std::string &dir)
{
    std::string found = "<absent>";
    for (const IniEntry &e : ParseIni(ReadFileBytes(dir + "MIRO42.INI"))) {
        if (e.section == "MAIN" && e.key == "INSTALLED")
            found = e.value;
    }
    return found;
}

std::string Ids(int count, size_t width)
{
    std::string text;
    for (int i = 0; i < count; i++) {
        std::string id = "ID" + std::to_string(i);
        id += std::string(width - id.size(), 'x');
        text += (i ? "," : "") + id;
    }
    return text;
}

std::string MakeIni(const std::string &name, const std::string &installed)
{
    std::string dir = MakeTestDir(name);
    WriteFileBytes(dir + "MIRO42.INI", "[MAIN]\r\nINSTALLED=" + installed + "\r\n");
    return dir;
}

TEST(InstalledList, MergesTheFileValue)
{
    struct Case {
        std::string old, id, expected;
    } cases[] = {
        {"U1,U2,U1,,U3", "U4", "U1,U2,U3,U4"},
        {"u1,U1", "U2", "u1,U1,U2"},
        {"U1,U2", "U1", "U1,U2,U1"},
        // Blanks and quotes around the value are the profile reader's to drop.
        {"U1", "U2 ", "U1,U2"},
        {"", " U3", "U3"},
        {"", "\"Q\"", "\"Q\""},
    };
    for (const Case &c : cases) {
        std::string dir = MakeIni("installed_merge", c.old);
        EXPECT_NE(AddInstalledId(dir.c_str(), c.id.c_str()), 0);
        EXPECT_EQ(Installed(dir), c.expected);
    }
}

// The settings file keeps who may write it and its attributes; a program
// that holds it open (reading, sharing reading and writing) keeps its
// handle, and the value is written in place then, with nothing in the trace:
// a run that succeeds traces what it always did.
TEST(InstalledList, TheFileKeepsItsPermissionsAttributesAndHolder)
{
    std::string dir = MakeIni("installed_kept", "U1");
    std::string ini = dir + "MIRO42.INI";
    PSECURITY_DESCRIPTOR granted = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;BA)(A;;FRFW;;;WD)", SDDL_REVISION_1,
                                                                     &granted, nullptr));
    ASSERT_TRUE(SetFileSecurityA(ini.c_str(), DACL_SECURITY_INFORMATION, granted));
    LocalFree(granted);
    ASSERT_TRUE(SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_HIDDEN));
    auto dacl = [&] {
        PSECURITY_DESCRIPTOR read = nullptr;
        char *text = nullptr;
        std::string sddl = "<none>";
        if (GetNamedSecurityInfoA(ini.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                                  nullptr, &read) == ERROR_SUCCESS &&
            ConvertSecurityDescriptorToStringSecurityDescriptorA(read, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                 &text, nullptr))
            sddl = text;
        LocalFree(text);
        LocalFree(read);
        return sddl;
    };
    const std::string before = dacl();
    ASSERT_NE(before.find(";WD)"), std::string::npos) << before;

    EXPECT_NE(AddInstalledId(dir.c_str(), "U2"), 0);
    EXPECT_EQ(Installed(dir), "U1,U2");
    EXPECT_EQ(dacl(), before);
    EXPECT_EQ(GetFileAttributesA(ini.c_str()) & FILE_ATTRIBUTE_HIDDEN, (DWORD)FILE_ATTRIBUTE_HIDDEN);

    HANDLE holder = CreateFileA(ini.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    StartTrace();
    EXPECT_NE(AddInstalledId(dir.c_str(), "U3"), 0);
    CloseHandle(holder);
    EXPECT_EQ(Installed(dir), "U1,U2,U3");
    EXPECT_EQ(TraceLines(), std::vector<std::string>{});
    EXPECT_EQ(dacl(), before);
    SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(InstalledList, CreatesWhatIsMissing)
{
    std::string dir = MakeTestDir("installed_missing");
    EXPECT_NE(AddInstalledId(dir.c_str(), "U1"), 0);
    EXPECT_EQ(Installed(dir), "U1");
    EXPECT_NE(AddInstalledId(dir.c_str(), "U2"), 0);
    EXPECT_EQ(Installed(dir), "U1,U2");

    WriteFileBytes(dir + "MIRO42.INI", "[VIEW]\r\nZoom=2\r\n");
    EXPECT_NE(AddInstalledId(dir.c_str(), "U3"), 0);
    std::vector<IniEntry> expected = {{"VIEW", "Zoom", "2"}, {"MAIN", "INSTALLED", "U3"}};
    EXPECT_EQ(ParseIni(ReadFileBytes(dir + "MIRO42.INI")), expected);
}

TEST(InstalledList, LeavesEveryOtherKeyAndSectionAlone)
{
    std::string dir = MakeTestDir("installed_others");
    std::vector<std::string> lines = {"[OTHER]", "INSTALLED=X1,X1", "Name=ルミテル ソフト", "[MAIN]", "Before=1",
                                      "INSTALLED=U1", "After=ソフト/ポ", "[LAST]", "Key=Value"};
    WriteFileBytes(dir + "MIRO42.INI", CrLf(lines));
    EXPECT_NE(AddInstalledId(dir.c_str(), "U2"), 0);
    lines[5] = "INSTALLED=U1,U2";
    EXPECT_EQ(ReadFileBytes(dir + "MIRO42.INI"), CrLf(lines));
    std::vector<IniEntry> expected = {
        {"OTHER", "INSTALLED", "X1,X1"}, {"OTHER", "Name", "ルミテル ソフト"}, {"MAIN", "Before", "1"},
        {"MAIN", "INSTALLED", "U1,U2"},  {"MAIN", "After", "ソフト/ポ"},      {"LAST", "Key", "Value"},
    };
    EXPECT_EQ(ParseIni(ReadFileBytes(dir + "MIRO42.INI")), expected);
}

// Values beyond 1023 bytes are read and written whole: no id is ever cut.
TEST(InstalledList, LongValuesAndIdsAreKeptWhole)
{
    std::string old = Ids(200, 7);  // 1599 bytes
    ASSERT_GT(old.size(), 1023u);
    std::string dir = MakeIni("installed_long", old);
    EXPECT_NE(AddInstalledId(dir.c_str(), "NEW"), 0);
    EXPECT_EQ(Installed(dir), old + ",NEW");

    // An id around the old buffer's edge in either direction.
    for (size_t width : {1020, 1023, 1024, 1100}) {
        std::string longOld = Ids(3, width / 2) + "," + std::string(width, 'w');
        std::string longId(2000, 'L');
        dir = MakeIni("installed_long", longOld);
        EXPECT_NE(AddInstalledId(dir.c_str(), longId.c_str()), 0);
        EXPECT_EQ(Installed(dir), longOld + "," + longId) << width;
    }

    old = Ids(100, 60);  // 6099 bytes
    dir = MakeIni("installed_long", old);
    EXPECT_NE(AddInstalledId(dir.c_str(), "NEW"), 0);
    EXPECT_EQ(Installed(dir), old + ",NEW");
}

TEST(InstalledList, KeepsTheFirst256Entries)
{
    std::string dir = MakeIni("installed_256", Ids(300, 5));
    EXPECT_NE(AddInstalledId(dir.c_str(), "NEW"), 0);
    EXPECT_EQ(Installed(dir), Ids(256, 5) + ",NEW");
}

TEST(InstalledList, EmptyIdWritesNothing)
{
    std::string dir = MakeIni("installed_empty", "U1");
    std::string before = ReadFileBytes(dir + "MIRO42.INI");
    EXPECT_EQ(AddInstalledId(dir.c_str(), ""), 0);
    EXPECT_EQ(ReadFileBytes(dir + "MIRO42.INI"), before);
}

// A drive with no room left: the settings keep every key (the change is
// made in a copy that cannot be written there), and a history line that does
// not fit is not left half-written.
TEST(FullDrive, SettingsAndHistoryStayWhole)
{
    SmallDrive drive("installed_fulldrive", 64);
    if (!drive.Ready())
        GTEST_SKIP() << drive.Why();
    std::string dir = drive.Folder();
    std::string ini = CrLf({"[MAIN]", "NAME=ルミテル", "INSTALLED=U1", "[VIEW]", "Pad=" + std::string(20000, 'p')});
    std::string history = std::string(3998, 'h') + "\r\n";
    ASSERT_TRUE(WriteFileBytes(dir + "MIRO42.INI", ini));
    ASSERT_TRUE(WriteFileBytes(dir + "update.log", history));
    // Fill what is left, page by page.
    for (int i = 0; WriteFileBytes(dir + "fill" + std::to_string(i), std::string(4096, 'f')); i++) {
    }
    EXPECT_EQ(AddInstalledId(dir.c_str(), "U2"), 0);
    EXPECT_EQ(ReadFileBytes(dir + "MIRO42.INI"), ini);
    EXPECT_EQ(Log(dir.c_str(), std::string(150, 'c').c_str(), "U2"), 1);
    EXPECT_EQ(ReadFileBytes(dir + "update.log"), history);
    for (const std::string &name : ListFolder(dir))
        EXPECT_TRUE(name == "MIRO42.INI" || name == "update.log" || name.rfind("fill", 0) == 0) << name;
}

} // namespace
