// Folder macros against the real shell folders and registry of the prefix,
// and the administrator test against real tokens.
#include "script/foldermacro.h"
#include "scripttest.h"

#include <windows.h>
#include <shlobj.h>
#include <string.h>

#include <gtest/gtest.h>

namespace {

// FolderMacro on value in a 260-byte buffer; "<0>" when it refuses.
std::string Expand(int notAdmin, const std::string &value)
{
    char buffer[FOLDER_MACRO_BUFFER];
    memset(buffer, 0x7E, sizeof(buffer));
    if (value.size() >= sizeof(buffer))
        return "<too long for the test>";
    memcpy(buffer, value.c_str(), value.size() + 1);
    if (!FolderMacro(notAdmin, buffer))
        return "<0>";
    return std::string(buffer, strnlen(buffer, sizeof(buffer)));
}

TEST(FolderMacro, EachMacroForAdministratorAndOtherUser)
{
    const std::string rest = "ルミテル\\ソフト表";  // trail bytes 0x5C
    struct Case {
        const char *macro;
        int adminFolder;
        int userFolder;
    } cases[] = {
        {"%DESKTOP%", CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOP},
        {"%desktop%", CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOP},
        {"%STARTMENU%", CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS},
        {"%startmenu%", CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS},
        {"%PROGRAM_FILES%", -1, -1},
        {"%Program_Files%", -1, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.macro);
        EXPECT_EQ(Expand(0, c.macro + rest), ExpectedExpansion(c.adminFolder, rest));
        EXPECT_EQ(Expand(1, c.macro + rest), ExpectedExpansion(c.userFolder, rest));
        EXPECT_EQ(Expand(7, c.macro + rest), ExpectedExpansion(c.userFolder, rest));
    }
    // The two desktops and the two program menus are different folders here,
    // so the flag is seen to choose.
    EXPECT_NE(ExpectedExpansion(CSIDL_DESKTOP, ""), ExpectedExpansion(CSIDL_COMMON_DESKTOPDIRECTORY, ""));
    EXPECT_NE(ExpectedExpansion(CSIDL_PROGRAMS, ""), ExpectedExpansion(CSIDL_COMMON_PROGRAMS, ""));
}

TEST(FolderMacro, RestIsAppendedAfterOneBackslashAsWritten)
{
    EXPECT_EQ(Expand(0, "%PROGRAM_FILES%"), ExpectedExpansion(-1, ""));
    EXPECT_EQ(Expand(0, "%DESKTOP%"), ExpectedExpansion(CSIDL_COMMON_DESKTOPDIRECTORY, ""));
    EXPECT_EQ(Expand(1, "%STARTMENU%\\x\\"), ExpectedExpansion(CSIDL_PROGRAMS, "\\x\\"));
    std::string twice = Expand(0, "%PROGRAM_FILES%\\a");
    EXPECT_NE(twice.find("\\\\a"), std::string::npos) << twice;
}

TEST(FolderMacro, MalformedValuesAreNotExpanded)
{
    const std::string many = std::string(40, '%');
    const char *values[] = {"%%x",       "%%",          "%DESKTOP%a%b", "%WINDOWS%x", "DESKTOP%x%",
                            "%DESKTOP",  "DESKTOP",     "",             "%",          "x%DESKTOP%y",
                            "%DESK TOP%", "% DESKTOP%", "%DESKTOP %a",  many.c_str()};
    for (const char *value : values) {
        for (int notAdmin : {0, 1})
            EXPECT_EQ(Expand(notAdmin, value), "<0>") << "[" << value << "] " << notAdmin;
    }
}

TEST(FolderMacro, ExpansionLongerThan259BytesIsRefused)
{
    for (int notAdmin : {0, 1}) {
        for (int folder : {-1, notAdmin ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS}) {
            const char *macro = folder < 0 ? "%PROGRAM_FILES%" : "%STARTMENU%";
            size_t base = ExpectedExpansion(folder, "").size();
            ASSERT_LT(base, 200u);
            std::string fits(259 - base, 'r');
            EXPECT_EQ(Expand(notAdmin, macro + fits), ExpectedExpansion(folder, fits));
            EXPECT_EQ(Expand(notAdmin, macro + fits + "r"), "<0>");
        }
    }
}

// Replaces the prefix's ProgramFilesDir for one test and puts it back.
class ProgramFilesDirOverride {
public:
    ProgramFilesDirOverride()
    {
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_READ | KEY_WRITE, &key_);
        DWORD size = sizeof(saved_);
        saved_ok_ = key_ && RegQueryValueExA(key_, "ProgramFilesDir", nullptr, &type_, saved_, &size) ==
                                ERROR_SUCCESS;
        savedSize_ = size;
    }
    ~ProgramFilesDirOverride()
    {
        if (saved_ok_)
            RegSetValueExA(key_, "ProgramFilesDir", 0, type_, saved_, savedSize_);
        if (key_)
            RegCloseKey(key_);
    }
    bool ready() const { return saved_ok_; }
    // Stored as raw bytes: no terminator unless the bytes hold one.
    bool Set(const std::string &bytes)
    {
        return RegSetValueExA(key_, "ProgramFilesDir", 0, REG_BINARY, (const BYTE *)bytes.data(),
                              (DWORD)bytes.size()) == ERROR_SUCCESS;
    }

private:
    HKEY key_ = nullptr;
    BYTE saved_[1024];
    DWORD savedSize_ = 0;
    DWORD type_ = 0;
    bool saved_ok_ = false;
};

TEST(FolderMacro, ProgramFilesDirWithoutTerminatorIsReadOnlyToItsEnd)
{
    std::string original = ExpectedExpansion(-1, "x");
    {
        ProgramFilesDirOverride pf;
        ASSERT_TRUE(pf.ready());
        ASSERT_TRUE(pf.Set("D:\\PF"));
        EXPECT_EQ(Expand(0, "%PROGRAM_FILES%ルミテル"), "D:\\PF\\ルミテル");
        ASSERT_TRUE(pf.Set("D:\\PF\\"));
        EXPECT_EQ(Expand(1, "%PROGRAM_FILES%"), "D:\\PF\\\\");
        // 258 bytes: with the backslash, 259 still fit.
        std::string longest = "D:\\" + std::string(255, 'p');
        ASSERT_TRUE(pf.Set(longest));
        EXPECT_EQ(Expand(0, "%PROGRAM_FILES%"), longest + "\\");
        EXPECT_EQ(Expand(0, "%PROGRAM_FILES%a"), "<0>");
        // 259 and 260 bytes fill the whole buffer: never a path.
        ASSERT_TRUE(pf.Set(longest + "p"));
        EXPECT_EQ(Expand(0, "%PROGRAM_FILES%"), "<0>");
        ASSERT_TRUE(pf.Set(longest + "pp"));
        EXPECT_EQ(Expand(0, "%PROGRAM_FILES%"), "<0>");
        ASSERT_TRUE(pf.Set(std::string("D:\\T\0garbage", 12)));
        EXPECT_EQ(Expand(0, "%PROGRAM_FILES%y"), "D:\\T\\y") << "the text ends at a terminator in the data";
    }
    EXPECT_EQ(ExpectedExpansion(-1, "x"), original) << "the prefix's value was not put back";
}

// Runs IsNotAdmin while the thread impersonates token.
int IsNotAdminImpersonating(HANDLE token)
{
    if (!SetThreadToken(nullptr, token))
        return -1;
    int result = IsNotAdmin();
    RevertToSelf();
    return result;
}

TEST(AdministratorTest, AgreesWithTheTokensMembership)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                         0, 0, &admins));
    BOOL member = FALSE;
    ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
    EXPECT_TRUE(member) << "the test prefix runs as an administrator";
    EXPECT_EQ(IsNotAdmin(), member ? 0 : 1);

    // The thread's own token is the one tested when there is one.
    HANDLE process = nullptr, same = nullptr, restricted = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
    ASSERT_TRUE(DuplicateToken(process, SecurityImpersonation, &same));
    EXPECT_EQ(IsNotAdminImpersonating(same), 0);
    SID_AND_ATTRIBUTES disable = {admins, 0};
    ASSERT_TRUE(CreateRestrictedToken(process, 0, 1, &disable, 0, nullptr, 0, nullptr, &restricted));
    HANDLE restrictedImp = nullptr;
    ASSERT_TRUE(DuplicateToken(restricted, SecurityImpersonation, &restrictedImp));
    EXPECT_EQ(IsNotAdminImpersonating(restrictedImp), 1) << "Administrators only for deny";
    EXPECT_EQ(IsNotAdmin(), 0) << "back on the process token";
    CloseHandle(restrictedImp);
    CloseHandle(restricted);
    CloseHandle(same);
    CloseHandle(process);
    FreeSid(admins);
}

TEST(AdministratorTest, AThreadTokenThatCannotBeOpenedCountsAsNoAdministrator)
{
    // An anonymous-level thread token cannot be opened: the test must not
    // fall back to the process token then.
    HANDLE process = nullptr, anonymous = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
    ASSERT_TRUE(DuplicateToken(process, SecurityAnonymous, &anonymous));
    ASSERT_TRUE(SetThreadToken(nullptr, anonymous));
    HANDLE probe = nullptr;
    BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, &probe);
    DWORD error = GetLastError();
    int result = IsNotAdmin();
    RevertToSelf();
    if (opened)
        CloseHandle(probe);
    CloseHandle(anonymous);
    CloseHandle(process);
    ASSERT_FALSE(opened) << "the anonymous token could be opened";
    EXPECT_NE(error, (DWORD)ERROR_NO_TOKEN);
    EXPECT_EQ(result, 1);
}

TEST(AdministratorTest, ReleasesEveryHandle)
{
    // Handle slots are reused: after many tests a new handle takes the same
    // slot as before only when none of the tests left a handle open.
    HANDLE before = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(before, nullptr);
    CloseHandle(before);
    for (int i = 0; i < 50; i++)
        IsNotAdmin();
    HANDLE after = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(after);
    EXPECT_EQ(after, before);
}

} // namespace
