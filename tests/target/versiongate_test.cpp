// The version gate on real data files.
#include "target/versiongate.h"
#include "installed.h"
#include "testutil.h"

#include <stdlib.h>

#include <gtest/gtest.h>

namespace {

// A target list owned by the test.
struct Targets {
    PtrList *list = PtrListCreate();
    Targets(std::initializer_list<const char *> patterns)
    {
        for (const char *p : patterns)
            PtrListAppend(list, _strdup(p));
    }
    ~Targets() { PtrListFreeStrings(list); }
};

// A folder whose RT_IDX.DAT holds exactly bytes.
std::string DataFolder(const std::string &name, const std::string &bytes)
{
    std::string dir = MakeTestDir(name);
    WriteFileBytes(dir + "RT_IDX.DAT", bytes);
    return dir;
}

int Gate(const std::string &folder, std::initializer_list<const char *> patterns)
{
    Targets targets(patterns);
    return VersionGate(folder.c_str(), targets.list);
}

TEST(VersionGate, PrefixPatterns)
{
    std::string v123 = DataFolder("gate_123", DataFileBytes("123"));
    EXPECT_EQ(Gate(v123, {"12"}), 1);
    EXPECT_EQ(Gate(v123, {"123"}), 1);
    EXPECT_EQ(Gate(v123, {"13"}), 0);
    EXPECT_EQ(Gate(v123, {"1234"}), 0);
    EXPECT_EQ(Gate(v123, {" 12"}), 0);
    EXPECT_EQ(Gate(v123, {"1-2"}), 0) << "1-2 is a prefix, not a range";
    EXPECT_EQ(Gate(v123, {"13", "9", "12"}), 1) << "any pattern of the list";
    std::string v15 = DataFolder("gate_1.5", DataFileBytes("1.5"));
    EXPECT_EQ(Gate(v15, {"1.50"}), 0) << "the version text is shorter";
    std::string range = DataFolder("gate_range", DataFileBytes("1-2b"));
    EXPECT_EQ(Gate(range, {"1-2"}), 1);
    std::string letters = DataFolder("gate_case", DataFileBytes("Ver2"));
    EXPECT_EQ(Gate(letters, {"ver"}), 0) << "letter case counts";
    EXPECT_EQ(Gate(letters, {"Ver"}), 1);
}

TEST(VersionGate, BoundsIncludeEquality)
{
    std::string v123 = DataFolder("gate_123", DataFileBytes("123"));
    EXPECT_EQ(Gate(v123, {"-123"}), 1);
    EXPECT_EQ(Gate(v123, {"123-"}), 1);
    EXPECT_EQ(Gate(v123, {"-122"}), 0);
    EXPECT_EQ(Gate(v123, {"124-"}), 0);
    EXPECT_EQ(Gate(v123, {"-124"}), 1);
    EXPECT_EQ(Gate(v123, {"122-"}), 1);
    EXPECT_EQ(Gate(v123, {"-1.23e2"}), 1);
    EXPECT_EQ(Gate(v123, {"1.231e2-"}), 0);
    std::string v15 = DataFolder("gate_1.5", DataFileBytes("1.5"));
    EXPECT_EQ(Gate(v15, {"-1.50"}), 1);
    EXPECT_EQ(Gate(v15, {"1.50-"}), 1);
    EXPECT_EQ(Gate(v15, {"-1.49"}), 0);
    EXPECT_EQ(Gate(v15, {"-1.5-"}), 1) << "leading and trailing: an upper bound";
}

TEST(VersionGate, DashAloneIsAnUpperBoundOfZero)
{
    EXPECT_EQ(Gate(DataFolder("gate_zero", DataFileBytes("0.0")), {"-"}), 1);
    EXPECT_EQ(Gate(DataFolder("gate_text", DataFileBytes("beta")), {"-"}), 1);
    EXPECT_EQ(Gate(DataFolder("gate_neg", DataFileBytes("-1")), {"-"}), 1);
    EXPECT_EQ(Gate(DataFolder("gate_small", DataFileBytes("0.001")), {"-"}), 0);
    EXPECT_EQ(Gate(DataFolder("gate_text", DataFileBytes("beta")), {"beta-"}), 1) << "0 >= 0";
}

TEST(VersionGate, EmptyPatternAcceptsAndEmptyListRefuses)
{
    std::string v2 = DataFolder("gate_2", DataFileBytes("2.00"));
    EXPECT_EQ(Gate(v2, {""}), 1);
    EXPECT_EQ(Gate(v2, {"9", ""}), 1);
    EXPECT_EQ(Gate(v2, {}), 0);
    EXPECT_EQ(Gate(DataFolder("gate_empty", DataFileBytes("")), {""}), 1);
}

TEST(VersionGate, MissingDataFileIsRefused)
{
    std::string dir = MakeTestDir("gate_missing");
    EXPECT_EQ(Gate(dir, {"", "-", "0-"}), 0);
    EXPECT_EQ(Gate("C:\\lumitest\\gate_no_such_folder\\", {""}), 0);
    WriteFileBytes(dir + "rt_idx.dat.bak", DataFileBytes("1"));
    EXPECT_EQ(Gate(dir, {""}), 0);
}

TEST(VersionGate, FieldIsEightBytesAtOffset72)
{
    // Eight bytes without terminator, followed by more text: the field ends
    // after its eighth byte.
    std::string bytes = DataFileBytes("12345678");
    bytes.replace(80, 4, "9999");
    bytes.replace(64, 8, "77777777");
    std::string dir = DataFolder("gate_full", bytes);
    EXPECT_EQ(Gate(dir, {"12345678"}), 1);
    EXPECT_EQ(Gate(dir, {"123456789"}), 0);
    EXPECT_EQ(Gate(dir, {"12345679-"}), 0);
    EXPECT_EQ(Gate(dir, {"-12345678"}), 1);
    EXPECT_EQ(Gate(dir, {"7"}), 0);
    // The text ends at the first zero byte.
    std::string cut = DataFileBytes("1.2");
    cut[76] = '5';
    EXPECT_EQ(Gate(DataFolder("gate_cut", cut), {"1.2"}), 1);
    EXPECT_EQ(Gate(DataFolder("gate_cut", cut), {"-1.2"}), 1);
    EXPECT_EQ(Gate(DataFolder("gate_cut", cut), {"1.2\x01"}), 0);
}

TEST(VersionGate, ShortDataFileGivesTheBytesThatAreThere)
{
    std::string full = DataFileBytes("123456");
    std::string dir = DataFolder("gate_short", full.substr(0, 75));
    EXPECT_EQ(Gate(dir, {"123"}), 1);
    EXPECT_EQ(Gate(dir, {"1234"}), 0);
    EXPECT_EQ(Gate(dir, {"-123"}), 1);
    EXPECT_EQ(Gate(dir, {"123.5-"}), 0);
    for (size_t size : {0u, 10u, 72u}) {
        SCOPED_TRACE(size);
        std::string empty = DataFolder("gate_short", full.substr(0, size));
        EXPECT_EQ(Gate(empty, {""}), 1) << "the file opens: an empty version";
        EXPECT_EQ(Gate(empty, {"-"}), 1);
        EXPECT_EQ(Gate(empty, {"1"}), 0);
        EXPECT_EQ(Gate(empty, {"0.1-"}), 0);
    }
}

// A folder of exactly length bytes (with its backslash) under C:\lumitest\.
std::string LongFolder(const std::string &name, size_t length)
{
    std::string dir = MakeTestDir(name);
    while (dir.size() + 100 < length) {
        dir += std::string(99, 'd') + "\\";
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    dir += std::string(length - dir.size() - 1, 'e') + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

TEST(VersionGate, FolderOf249BytesIsTheLongestAccepted)
{
    std::string at = LongFolder("gate_long249", 249);
    ASSERT_EQ(at.size(), 249u);
    ASSERT_TRUE(WriteFileBytes(at + "RT_IDX.DAT", DataFileBytes("3.1")));
    EXPECT_EQ(Gate(at, {"3"}), 1);

    // One byte more: refused even though the file is there (written through
    // the long-path form, which the gate does not use).
    std::string over = LongFolder("gate_long250", 250);
    ASSERT_EQ(over.size(), 250u);
    std::wstring wide = L"\\\\?\\";
    for (char c : over + "RT_IDX.DAT")
        wide += (wchar_t)(unsigned char)c;
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string bytes = DataFileBytes("3.1");
    DWORD written = 0;
    WriteFile(h, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(h);
    ASSERT_EQ(written, bytes.size());
    EXPECT_EQ(Gate(over, {"3", ""}), 0);
    EXPECT_EQ(Gate(over + std::string(400, 'x') + "\\", {""}), 0);
}

TEST(VersionNumber, ReadsTheLeadingDecimalNumberLikeAtof)
{
    const char *decimal[] = {"123",   "1.5",  "  \t2.25x", "+7",   "-3.5", ".5",  "5.",  "1e3",  "1E+2",
                             "2e-1z", "1e",   "1e+",       "1.2.3", "12-", "-",   "",    "abc", "--1",
                             "+-1",   ".",    "-.5-",      "0007",  "1 2", "\n9", "e5"};
    for (const char *text : decimal)
        EXPECT_EQ(VersionNumber(text), atof(text)) << "[" << text << "]";
    EXPECT_EQ(VersionNumber("1-2"), 1.0);
    EXPECT_EQ(VersionNumber("0x10"), 0.0) << "no hexadecimal";
    EXPECT_EQ(VersionNumber("inf"), 0.0);
    EXPECT_EQ(VersionNumber("nan"), 0.0);
    EXPECT_EQ(VersionNumber(std::string(300, '9').c_str()), atof(std::string(300, '9').c_str()));
}

TEST(InstalledStandIn, FolderFilesAndRegistration)
{
    std::string dir = MakeInstalledFolder("installed_standin", "2.00");
    ASSERT_EQ(dir, "C:\\lumitest\\installed_standin\\");
    std::string data = ReadFileBytes(dir + "RT_IDX.DAT");
    ASSERT_EQ(data.size(), 128u);
    EXPECT_EQ(data.substr(72, 8), std::string("2.00\0\0\0\0", 8));
    HMODULE lib = LoadLibraryA((dir + "MIRO42.DLL").c_str());
    ASSERT_NE(lib, nullptr);
    auto version = (int (*)(void))(void *)GetProcAddress(lib, "MiroLibraryVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 42);
    FreeLibrary(lib);
    char installed[64] = "unset";
    GetPrivateProfileStringA("MAIN", "INSTALLED", "missing", installed, sizeof(installed),
                             (dir + "MIRO42.INI").c_str());
    EXPECT_STREQ(installed, "");

    // The key's name reaches the registry as the Japanese text, not as bytes.
    const wchar_t *key = L"Software\\Kevrani\\\u30EB\u30DF\u30C6\u30EB \u30DF\u30EB\u30C6\u7248\\standin";
    wchar_t path[MAX_PATH] = L"";
    DWORD size = sizeof(path);
    {
        InstalledRegistration reg("standin", dir);
        ASSERT_TRUE(reg.ok());
        ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, key, L"Path", RRF_RT_REG_SZ, nullptr, path, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(path), L"C:\\lumitest\\installed_standin\\");
    }
    HKEY vendor;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kevrani", 0, KEY_READ, &vendor);
    if (opened == ERROR_SUCCESS)
        RegCloseKey(vendor);
    EXPECT_NE(opened, ERROR_SUCCESS) << "the emptied keys are removed";
}

} // namespace
