// Copy on real files: what it leaves at the destination and what it traces.
#include "exec/filecmd.h"

#include "exec_testutil.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

const FILETIME kSourceTime = MakeFileTime(2021, 3, 4, 5, 6, 7);

// The trace is written in text mode: every line feed of a text becomes CR LF.
std::string AsTraced(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// The lines in order, others allowed between them.
void ExpectInOrder(const std::vector<std::string> &lines, const std::vector<std::string> &wanted)
{
    size_t at = 0;
    for (const auto &w : wanted) {
        while (at < lines.size() && lines[at] != w)
            at++;
        ASSERT_LT(at, lines.size()) << "missing or out of order: [" << w << "]";
        at++;
    }
}

class CopyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTestDir("filecmd_copy");
        src = dir + "new.dat";
        dst = dir + "old.dat";
        ASSERT_TRUE(WriteFileBytes(src, "new contents\r\n"));
        ASSERT_TRUE(SetWriteTime(src, kSourceTime));
        StartTrace();
    }
    // A copy that asks nothing and gives the new file the source's time.
    void CopyWithoutQuestions()
    {
        BoxAnswerer boxes({});
        EXPECT_EQ(Copy(src.c_str(), dst.c_str(), nullptr), 1);
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_EQ(ReadFileBytes(dst), "new contents\r\n");
        FILETIME creation, write;
        ASSERT_TRUE(ReadTimes(dst, &creation, &write));
        EXPECT_TRUE(SameTime(creation, kSourceTime));
        EXPECT_TRUE(SameTime(write, kSourceTime));
    }
    std::string dir, src, dst;
};

TEST_F(CopyTest, OntoAnExistingFileGivesTheSourceTimeAndLeavesNothingElse)
{
    ASSERT_TRUE(WriteFileBytes(dst, "old"));
    CopyWithoutQuestions();
    // The old file's second name is gone again.
    EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"new.dat", "old.dat"}));

    std::vector<std::string> lines = TraceLines();
    ExpectInOrder(lines, {"\t\t[Copy]>>", "\t\t\tsrc = " + src, "\t\t\tdst = " + dst,
                          "\t[GetFileTimeByFilename]>>", "\t[GetFileTimeByFilename]<<", "",
                          "\t\t\t\tFileTimeToLocalFileTime().", "\t\t\t\t\tSucceed.", "",
                          "\t\t\t\t\tFileTimeToSytemTime().", "\t\t\t\t\t\tSucceed.",
                          "\t\t\t\t\t\tLastWriteTime: 2021/03/04-05:06:07", "\t\t\t\tDelete   dst",
                          "\t\t\t\tCopy\tsrc -> dst", "\t[SetFileTimeByFilename]>>",
                          "\t[SetFileTimeByFilename]<<", "\t\tbResult = 1", "\t\t[Copy]<<"});
}

// A file another program holds sharing reading and writing cannot be
// replaced but may be written: the new bytes go over it in place, whether
// the holder shares deletion or not, and its holder reads them through its
// own handle. A file with a second name is never written through: held so,
// its copy is asked about and both names keep the old bytes.
TEST_F(CopyTest, OntoAFileHeldSharingWritingIsWrittenInPlace)
{
    const std::string sharingViolation = AsTraced(SystemText(ERROR_SHARING_VIOLATION));
    for (DWORD share : {FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}) {
        for (const std::string &old : {std::string("old"), std::string(3000, 'o')}) {
            StartTrace();
            ASSERT_TRUE(WriteFileBytes(dst, old));
            HANDLE holder = CreateFileA(dst.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0,
                                        nullptr);
            ASSERT_NE(holder, INVALID_HANDLE_VALUE);
            BoxAnswerer boxes({});
            EXPECT_EQ(Copy(src.c_str(), dst.c_str(), nullptr), 1);
            EXPECT_TRUE(boxes.Boxes().empty());
            char seen[64] = "";
            DWORD got = 0;
            EXPECT_TRUE(ReadFile(holder, seen, sizeof(seen), &got, nullptr));
            EXPECT_EQ(std::string(seen, got), "new contents\r\n");
            CloseHandle(holder);
            CopyWithoutQuestions();
            EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"new.dat", "old.dat"}));
            std::string raw = ReadFileBytes(TraceLogPath());
            if (!(share & FILE_SHARE_DELETE)) {
                EXPECT_NE(raw.find("\t\t\t\tDelete Fail - " + sharingViolation + " \t\t\t\tCopy\tsrc -> dst\r\n"),
                          std::string::npos)
                    << raw;
            }
        }
    }
    std::string other = MakeTestDir("filecmd_copy_other") + "other.dat";
    ASSERT_TRUE(WriteFileBytes(dst, "old"));
    ASSERT_TRUE(CreateHardLinkA(other.c_str(), dst.c_str(), nullptr));
    HANDLE holder = CreateFileA(dst.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    BoxAnswerer boxes({{IDABORT, nullptr}});
    EXPECT_EQ(Copy(src.c_str(), dst.c_str(), nullptr), 0);
    CloseHandle(holder);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, SystemText(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ReadFileBytes(dst), "old");
    EXPECT_EQ(ReadFileBytes(other), "old");
    EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"new.dat", "old.dat"}));
}

TEST_F(CopyTest, OfANewFileTracesTheFailedDeletionAndCopies)
{
    CopyWithoutQuestions();
    // The system's text carries its own line end; a blank follows it.
    std::string raw = ReadFileBytes(TraceLogPath());
    std::string expected = "\t\t\t\tDelete Fail - " + AsTraced(SystemText(ERROR_FILE_NOT_FOUND)) +
                           " \t\t\t\tCopy\tsrc -> dst\r\n";
    EXPECT_NE(raw.find(expected), std::string::npos) << raw;
}

TEST_F(CopyTest, MissingSourceFailsWithoutPromptAndLeavesTheDestination)
{
    ASSERT_TRUE(WriteFileBytes(dst, "old"));
    std::string missing = dir + "missing.dat";
    BoxAnswerer boxes({});
    EXPECT_EQ(Copy(missing.c_str(), dst.c_str(), nullptr), 0);
    Sleep(300);
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(ReadFileBytes(dst), "old");
    EXPECT_EQ(ListFolder(dir), (std::vector<std::string>{"new.dat", "old.dat"}));
    std::vector<std::string> lines = TraceLines();
    // The runtime writes the invalid handle in eight upper-case hex digits.
    ExpectInOrder(lines, {"\t\t[Copy]>>", "\t[GetFileTimeByFilename]>>", "\t\tCreateFile().",
                          "\t\t\tFailed. [FFFFFFFF]", "\tbResult = 0", "\t[GetFileTimeByFilename]<<",
                          "\t\tbResult = 0", "\t\t[Copy]<<"});
    EXPECT_FALSE(HasLineStartingWith(lines, "\t\t\t\tDelete"));
}

// The copy carries the read-only attribute; setting its times may then fail
// (it does not under Wine run by root), which only the trace shows.
TEST_F(CopyTest, ReadOnlySourceIsCopiedWhateverTheTimeSettingDoes)
{
    ASSERT_TRUE(SetFileAttributesA(src.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Copy(src.c_str(), dst.c_str(), nullptr), 1);
    EXPECT_EQ(ReadFileBytes(dst), "new contents\r\n");
    EXPECT_TRUE(GetFileAttributesA(dst.c_str()) & FILE_ATTRIBUTE_READONLY);
    // No old file: the deletion's failure text and its blank come first.
    ExpectInOrder(TraceLines(), {" \t\t\t\tCopy\tsrc -> dst", "\t[SetFileTimeByFilename]>>",
                                 "\t\tCreateFile().", "\t[SetFileTimeByFilename]<<", "\t\tbResult = 1"});
    SetFileAttributesA(src.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA(dst.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FileTimes, ReadAndSetByNameWithTheirTrace)
{
    std::string dir = MakeTestDir("filecmd_times");
    std::string file = dir + "f.txt";
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    StartTrace();
    FILETIME wanted = MakeFileTime(2019, 12, 31, 23, 59, 58);
    // A null time stays as it was.
    EXPECT_NE(SetFileTimeByFilename(file.c_str(), nullptr, nullptr, &wanted), 0);
    FILETIME got = {};
    EXPECT_NE(GetFileTimeByFilename(file.c_str(), nullptr, nullptr, &got), 0);
    EXPECT_TRUE(SameTime(got, wanted));

    std::vector<std::string> lines = TraceLines();
    ASSERT_EQ(lines.size(), 16u);
    const char *names[] = {"SetFileTimeByFilename", "GetFileTimeByFilename"};
    const char *calls[] = {"\t\tSetFileTime().", "\t\tGetFileTime()."};
    for (int i = 0; i < 2; i++) {
        const std::string *l = &lines[i * 8];
        EXPECT_EQ(l[0], std::string("\t[") + names[i] + "]>>");
        EXPECT_EQ(l[1], "\t\tCreateFile().");
        EXPECT_EQ(l[2].substr(0, 15), "\t\t\tSucceeded. [");
        EXPECT_EQ(l[2].size(), 24u) << "a handle in eight hex digits";
        EXPECT_EQ(l[3], "\t");
        EXPECT_EQ(l[4], calls[i]);
        EXPECT_EQ(l[5], "\t\t\t\tSucceeded.");
        EXPECT_EQ(l[6], "\tbResult = 1");
        EXPECT_EQ(l[7], std::string("\t[") + names[i] + "]<<");
    }
}

} // namespace
