// Copies that fail for real, and what the prompt's answers leave behind: the
// installed file must survive every failed copy whole, and nothing else stays.
#include "exec/filecmd.h"

#include "exec_testutil.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

const std::vector<int> kAbortRetryIgnore = {IDABORT, IDRETRY, IDIGNORE};

std::vector<int> ButtonIds(const DialogRecord &box)
{
    std::vector<int> ids;
    for (const auto &b : box.buttons)
        ids.push_back(b.id);
    return ids;
}

void ExpectPrompt(const DialogRecord &box, DWORD error)
{
    EXPECT_EQ(box.text, SystemText(error));
    EXPECT_EQ(box.icon, ICON_WARNING);
    EXPECT_EQ(ButtonIds(box), kAbortRetryIgnore);
}

class FailedCopyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTestDir("filecmd_fail");
        installed = dir + "MIRO42.DLL";
        ASSERT_TRUE(WriteFileBytes(installed, "installed library"));
        ASSERT_TRUE(SetWriteTime(installed, MakeFileTime(2010, 1, 2, 3, 4, 5)));
        StartTrace();
    }
    void ExpectInstalledIntact()
    {
        EXPECT_EQ(ReadFileBytes(installed), "installed library");
        FILETIME creation, write;
        ASSERT_TRUE(ReadTimes(installed, &creation, &write));
        EXPECT_TRUE(SameTime(write, MakeFileTime(2010, 1, 2, 3, 4, 5)));
    }
    std::string dir, installed;
};

// A file copied onto itself: deleting first would have lost it along with
// the copy's source. Replaced whole by itself, it stays as it was.
TEST_F(FailedCopyTest, OntoItselfKeepsTheInstalledFile)
{
    BoxAnswerer boxes({});
    EXPECT_EQ(Copy(installed.c_str(), installed.c_str(), nullptr), 1);
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(ReadFileBytes(installed), "installed library");
    EXPECT_EQ(ListFolder(dir), std::vector<std::string>{"MIRO42.DLL"});
}

// Held without sharing: asked about with the installed file whole; Retry
// once the holder lets go completes without tracing a second deletion.
TEST_F(FailedCopyTest, RetryAfterTheHolderLetsGoCompletes)
{
    std::string src = dir + "new.dll";
    ASSERT_TRUE(WriteFileBytes(src, "new library"));
    HANDLE held = CreateFileA(installed.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    BoxAnswerer boxes({{IDRETRY, [&](HWND) {
                            CloseHandle(held);
                            ExpectInstalledIntact();
                        }}});
    EXPECT_EQ(Copy(src.c_str(), installed.c_str(), nullptr), 1);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectPrompt(boxes.Boxes()[0], ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadFileBytes(installed), "new library");
    EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"MIRO42.DLL", "new.dll"}));
    std::vector<std::string> lines = TraceLines();
    // No old file was deleted: the copy's line follows the failure text.
    EXPECT_EQ(CountLines(lines, " \t\t\t\tCopy\tsrc -> dst"), 1u);
    EXPECT_FALSE(HasLineStartingWith(lines, "\t\t\t\tDelete   dst"));
    EXPECT_TRUE(HasLineStartingWith(lines, "\t\t\t\tDelete Fail - "));
}

// The source opens for its time stamp and not for the copy: a Linux gate
// decides each open of it.
TEST_F(FailedCopyTest, SourceRefusedAtCopyTimeAnsweredAbortIgnoreRetry)
{
    std::string src = dir + "new.dll";
    ASSERT_TRUE(WriteFileBytes(src, "new library"));
    struct Case {
        int answer;
        int result;
        const char *left;
    } cases[] = {{IDABORT, 0, "installed library"}, {IDIGNORE, 1, "installed library"}, {IDRETRY, 1, "new library"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.answer);
        ASSERT_TRUE(WriteFileBytes(installed, "installed library"));
        // The time stamp's open, the copy's, and (for Retry) the second copy's.
        OpenGate gate(src, "allow,deny,allow");
        if (!gate.Ready())
            GTEST_SKIP() << "no open gate on this machine: " << gate.Why();
        BoxAnswerer boxes({{c.answer, nullptr}});
        EXPECT_EQ(Copy(src.c_str(), installed.c_str(), nullptr), c.result);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        ExpectPrompt(boxes.Boxes()[0], ERROR_ACCESS_DENIED);
        EXPECT_EQ(ReadFileBytes(installed), c.left);
        EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"MIRO42.DLL", "new.dll"}));
        std::vector<std::string> decided = gate.Log();
        ASSERT_GE(decided.size(), 2u);
        EXPECT_EQ(decided[1], "deny");
    }
}

TEST_F(FailedCopyTest, MissingDestinationFolderRetriedAfterItIsMade)
{
    std::string src = installed;
    std::string dst = dir + "sub\\MIRO42.DLL";
    BoxAnswerer boxes({{IDRETRY, [&](HWND) { CreateDirectoryA((dir + "sub").c_str(), nullptr); }}});
    EXPECT_EQ(Copy(src.c_str(), dst.c_str(), nullptr), 1);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectPrompt(boxes.Boxes()[0], ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ReadFileBytes(dst), "installed library");
    std::vector<std::string> lines = TraceLines();
    // No old file: the copy's line follows the deletion's failure text.
    EXPECT_EQ(CountLines(lines, " \t\t\t\tCopy\tsrc -> dst"), 1u);
    EXPECT_FALSE(HasLineStartingWith(lines, "\t\t\t\tDelete   dst"));
}

// The deletion fails and so does the copy: never written through the
// attribute, not even where the platform would let its owner.
TEST_F(FailedCopyTest, ReadOnlyDestinationIsAskedAboutAndLeftAsItWas)
{
    std::string src = dir + "new.dll";
    ASSERT_TRUE(WriteFileBytes(src, "new library"));
    ASSERT_TRUE(SetFileAttributesA(installed.c_str(), FILE_ATTRIBUTE_READONLY));
    BoxAnswerer boxes({{IDABORT, nullptr}});
    EXPECT_EQ(Copy(src.c_str(), installed.c_str(), nullptr), 0);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectPrompt(boxes.Boxes()[0], ERROR_ACCESS_DENIED);
    ExpectInstalledIntact();
    EXPECT_TRUE(GetFileAttributesA(installed.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"MIRO42.DLL", "new.dll"}));
    EXPECT_TRUE(HasLineStartingWith(TraceLines(), "\t\t\t\tDelete Fail - "));
    SetFileAttributesA(installed.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FailedCopyTest, DestinationHeldOpenByAnotherUserStaysAsItWas)
{
    std::string src = dir + "new.dll";
    ASSERT_TRUE(WriteFileBytes(src, "new library"));
    HANDLE held = CreateFileA(installed.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    BoxAnswerer boxes({{IDABORT, nullptr}});
    EXPECT_EQ(Copy(src.c_str(), installed.c_str(), nullptr), 0);
    CloseHandle(held);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectPrompt(boxes.Boxes()[0], ERROR_SHARING_VIOLATION);
    ExpectInstalledIntact();
    EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"MIRO42.DLL", "new.dll"}));
}

// A holder that shares deletion but not writing does not keep the file from
// being deleted, and the trace says so; the replacement then meets what the
// platform does with a held file: the old file whole, or the new one.
TEST_F(FailedCopyTest, DestinationHeldSharingDeletionIsTracedAsDeletable)
{
    std::string src = dir + "new.dll";
    ASSERT_TRUE(WriteFileBytes(src, "new library"));
    HANDLE held = CreateFileA(installed.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    BoxAnswerer boxes({{IDABORT, nullptr}});
    int result = Copy(src.c_str(), installed.c_str(), nullptr);
    CloseHandle(held);
    EXPECT_TRUE(HasLineStartingWith(TraceLines(), "\t\t\t\tDelete   dst"));
    if (result)
        EXPECT_EQ(ReadFileBytes(installed), "new library");
    else
        ExpectInstalledIntact();
    EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"MIRO42.DLL", "new.dll"}));
}

// An owner that is no window: the box cannot be shown, which is no answer.
TEST_F(FailedCopyTest, PromptThatCannotBeShownFailsAtOnceAndKeepsTheFile)
{
    HWND notAWindow = (HWND)(ULONG_PTR)0x7FFF0;
    ASSERT_FALSE(IsWindow(notAWindow));
    BoxAnswerer boxes({});
    DWORD start = GetTickCount();
    std::string dst = dir + "nosub\\MIRO42.DLL";
    EXPECT_EQ(Copy(installed.c_str(), dst.c_str(), notAWindow), 0);
    EXPECT_LT(GetTickCount() - start, 10000u);
    EXPECT_TRUE(boxes.Boxes().empty());
    ExpectInstalledIntact();
    EXPECT_EQ(ListFolder(dir), std::vector<std::string>{"MIRO42.DLL"});
}

} // namespace

namespace {

// A drive without room for both files: the old one is never given up for
// the new one. The question comes with the old file whole; Retry after room
// is made completes.
TEST(FullDriveCopy, NoRoomForBothAsksWithTheOldFileWhole)
{
    const std::string oldBytes(24 * 1024, 'o'), newBytes(28 * 1024, 'n');
    for (int answer : {IDABORT, IDIGNORE, IDRETRY}) {
        SCOPED_TRACE(answer);
        SmallDrive drive("filecmd_smalldrive", 64);
        if (!drive.Ready())
            GTEST_SKIP() << drive.Why();
        std::string src = MakeTestDir("filecmd_fullsrc") + "big.dat";
        std::string dst = drive.Folder() + "big.dat";
        std::string filler = drive.Folder() + "filler";
        ASSERT_TRUE(WriteFileBytes(dst, oldBytes));
        ASSERT_TRUE(WriteFileBytes(filler, std::string(16 * 1024, 'f')));
        ASSERT_TRUE(WriteFileBytes(src, newBytes));
        StartTrace();
        BoxAnswerer boxes({{answer, [&](HWND) {
                                EXPECT_EQ(ReadFileBytes(dst), oldBytes);
                                DeleteFileA(filler.c_str());
                            }}});
        EXPECT_EQ(Copy(src.c_str(), dst.c_str(), nullptr), answer == IDABORT ? 0 : 1);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        ExpectPrompt(boxes.Boxes()[0], ERROR_DISK_FULL);
        EXPECT_EQ(ReadFileBytes(dst), answer == IDRETRY ? newBytes : oldBytes);
        EXPECT_EQ(ListFolder(drive.Folder()), std::vector<std::string>{"big.dat"});
        EXPECT_EQ(CountLines(TraceLines(), "\t\t\t\tCopy\tsrc -> dst"), answer == IDRETRY ? 1u : 0u);
    }
}

TEST(FullDriveCopy, AFileThatNeverFitsIsAskedAbout)
{
    SmallDrive drive("filecmd_smalldrive", 64);
    if (!drive.Ready())
        GTEST_SKIP() << drive.Why();
    std::string src = MakeTestDir("filecmd_fullsrc") + "huge.dat";
    std::string dst = drive.Folder() + "huge.dat";
    ASSERT_TRUE(WriteFileBytes(dst, std::string(16 * 1024, 'o')));
    ASSERT_TRUE(WriteFileBytes(src, std::string(100 * 1024, 'n')));
    BoxAnswerer boxes({{IDABORT, nullptr}});
    EXPECT_EQ(Copy(src.c_str(), dst.c_str(), nullptr), 0);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectPrompt(boxes.Boxes()[0], ERROR_DISK_FULL);
    EXPECT_EQ(ReadFileBytes(dst), std::string(16 * 1024, 'o'));
    EXPECT_EQ(ListFolder(drive.Folder()), std::vector<std::string>{"huge.dat"});
}

} // namespace
