// The disk-space check on real folders, real files and a real small disk.
#include "base/tracelog.h"
#include "checks/diskspace.h"
#include "testlists.h"
#include "testutil.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A 1 MiB tmpfs mapped to this letter by smalldisk.sh (a test of its own that
// runs before this one and unmounts afterwards).
const char kSmallDisk[] = "V:\\";
const unsigned short kSmallDiskIndex = 'V' - 'A';

bool Contains(const std::vector<std::string> &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Need(long long need, unsigned long long freeBytes)
{
    return "\t\t\t dwNecessarySpace = " + std::to_string(need) + ", dwFreeSpace = " +
           std::to_string(freeBytes);
}

// The source of every case: one file of size bytes, nothing else.
std::string SourceWithOneFile(const std::string &name, size_t size)
{
    std::string src = MakeTestDir(name);
    WriteFileBytes(src + "new.bin", std::string(size, 'n'));
    return src;
}

TEST(DiskSpace, FileSizeOfAnExistingFileAndZeroOtherwise)
{
    std::string dir = MakeTestDir("space_size");
    ASSERT_TRUE(WriteFileBytes(dir + "f.bin", std::string(1234, 'x')));
    EXPECT_EQ(GetFileSizeByFilename((dir + "f.bin").c_str()), 1234u);
    EXPECT_EQ(GetFileSizeByFilename((dir + "none.bin").c_str()), 0u);
    EXPECT_EQ(GetFileSizeByFilename((dir + "\\\\f.bin").c_str()), 1234u) << "doubled separator";
    // A file that others hold open for writing can still be measured.
    HANDLE held = CreateFileA((dir + "f.bin").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSizeByFilename((dir + "f.bin").c_str()), 1234u);
    CloseHandle(held);
}

TEST(DiskSpace, NeedWalksSubfoldersAgainstLikePaths)
{
    std::string src = MakeTestDir("space_src");
    std::string dst = MakeTestDir("space_dst");
    WriteFileBytes(src + "a.bin", std::string(1000, 'a'));
    WriteFileBytes(src + ".hidden", std::string(7, 'h'));
    CreateDirectoryA((src + "sub").c_str(), nullptr);
    CreateDirectoryA((src + "sub\\deeper").c_str(), nullptr);
    CreateDirectoryA((src + "empty").c_str(), nullptr);
    WriteFileBytes(src + "sub\\b.bin", std::string(300, 'b'));
    WriteFileBytes(src + "sub\\deeper\\c.bin", std::string(50, 'c'));
    WriteFileBytes(dst + "a.bin", std::string(1500, 'A'));
    CreateDirectoryA((dst + "sub").c_str(), nullptr);
    WriteFileBytes(dst + "sub\\b.bin", std::string(100, 'B'));
    WriteFileBytes(dst + "b.bin", std::string(999, 'x'));  // not a like path of sub\b.bin
    // Folder links are passed over: one back to the folder itself, one to
    // another folder, whose files count nothing and are never named.
    std::string away = MakeTestDir("space_away");
    WriteFileBytes(away + "far.bin", std::string(4000, 'f'));
    UnixLink loop(src + "sub\\loop", src), elsewhere(src + "elsewhere", away);
    ASSERT_TRUE(loop.Planted() && elsewhere.Planted());

    TraceLogStart();
    // -500 + 7 + (300 - 100) + 50 (no deeper folder in the destination)
    EXPECT_EQ(getNecessarySpaceDir(src.c_str(), dst.c_str()), -243);
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "\t\t\t[getNecessarySpaceDir]>>");
    EXPECT_EQ(lines[1], "\t\t\tpszSrcPath\t\t= " + src);
    EXPECT_EQ(lines[2], "\t\t\tpszDstPath\t\t= " + dst);
    EXPECT_EQ(lines[lines.size() - 2], "\t\t\tnSize = -243");
    EXPECT_EQ(lines.back(), "\t\t\t[getNecessarySpaceDir]<<");
    // The separator is doubled below the top folder, which ends in one.
    EXPECT_TRUE(Contains(lines, "\t\t\tpszSrcPath\t\t= " + src + "\\sub"));
    EXPECT_TRUE(Contains(lines, "\t\t\tpszDstPath\t\t= " + dst + "\\sub"));
    EXPECT_TRUE(Contains(lines, "\t\t\tpszDstPath\t\t= " + dst + "\\sub\\deeper"));
    EXPECT_TRUE(Contains(lines, "\t\t\tpszDstPath\t\t= " + dst + "\\empty"));
    EXPECT_TRUE(Contains(lines, "\t\t\t\tfd.cFileName = sub, --> GoToSub"));
    EXPECT_TRUE(Contains(lines, "\t\t\t\tfd.cFileName = empty, --> GoToSub"));
    EXPECT_TRUE(Contains(lines, "\t\t\t\tfd.cFileName = loop, --> Link skipped"));
    EXPECT_TRUE(Contains(lines, "\t\t\t\tfd.cFileName = elsewhere, --> Link skipped"));
    EXPECT_TRUE(Contains(lines, "\t\t\tnSize = 0")) << "the empty folder adds nothing";
    // A file line shows the sum before and after its own share.
    bool sawA = false;
    for (const auto &line : lines) {
        std::string head = "\t\t\t\tfd.cFileName = a.bin, --> nSrc = 1000, nDst = 1500, uSize( ";
        if (line.compare(0, head.size(), head) == 0) {
            long long before = std::stoll(line.substr(head.size()));
            EXPECT_EQ(line, head + std::to_string(before) + " --> " + std::to_string(before - 500) + " )");
            sawA = true;
        }
    }
    EXPECT_TRUE(sawA);
    for (const auto &line : lines) {
        EXPECT_EQ(line.find("fd.cFileName = ."), line.find("fd.cFileName = .hidden")) << line;
        EXPECT_EQ(line.find("far.bin"), std::string::npos) << line;
    }

    // The check compares the peak: what the growing and new files add
    // (7 + 200 + 50), shrinking ones taking nothing back, plus the largest
    // file standing in both versions at once (a.bin's new 1000 beside its
    // old 1500), not the sum of all such files.
    StringList dsts({dst});
    TraceLogStart();
    EXPECT_EQ(checkSpace(dsts.get(), src.c_str()), 1);
    lines = TraceLines();
    EXPECT_TRUE(Contains(lines, "\t\t\tnSize = -243"));
    const std::string need = "\t\t\t dwNecessarySpace = 1257, dwFreeSpace = ";
    int compared = 0;
    for (const auto &line : lines)
        compared += line.compare(0, need.size(), need) == 0;
    EXPECT_EQ(compared, 1);

    // All or nothing keeps every old file until the end: every new file in
    // full (1357), the new settings file and history beside theirs (200 and
    // 100) and the journal (1 KiB a file of the update and for each of those
    // two, and 1 KiB more).
    WriteFileBytes(dst + "MIRO42.INI", std::string(200, 'i'));
    WriteFileBytes(dst + "update.log", std::string(100, 'l'));
    TraceLogStart();
    EXPECT_EQ(checkSpacePeak(dsts.get(), src.c_str(), PEAK_ALL_AT_ONCE, nullptr, nullptr), 1);
    const std::string whole = "\t\t\t dwNecessarySpace = " + std::to_string(1357 + 200 + 100 + 7 * 1024) + ", ";
    compared = 0;
    for (const auto &line : TraceLines())
        compared += line.compare(0, whole.size(), whole) == 0;
    EXPECT_EQ(compared, 1);
}

TEST(DiskSpace, UnsearchableSourceNeedsNothing)
{
    std::string dst = MakeTestDir("space_nosrc");
    TraceLogStart();
    EXPECT_EQ(getNecessarySpaceDir("C:\\lumitest\\space_nosuchfolder\\", dst.c_str()), 0);
    std::vector<std::string> lines = TraceLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "\t\t\tnSize = 0");
    std::string longFolder = "C:\\" + std::string(255, 'x') + "\\";
    EXPECT_EQ(getNecessarySpaceDir(longFolder.c_str(), dst.c_str()), 0);
}

TEST(DiskSpace, PathsTooLongForTheWalkAreSettledSafely)
{
    // The source names fit; their destination counterparts do not.
    std::string src = MakeTestDir("space_long");
    std::string file = std::string(20, 'f') + ".bin";
    std::string sub = "sub" + std::string(20, 's');
    WriteFileBytes(src + file, std::string(100, 'f'));
    CreateDirectoryA((src + sub).c_str(), nullptr);
    WriteFileBytes(src + sub + "\\g.bin", std::string(40, 'g'));
    std::string dst = "C:\\" + std::string(245, 'd') + "\\";
    TraceLogStart();
    // The file counts in full (a counterpart that cannot be named is absent);
    // the subfolder cannot be walked against a destination and counts nothing.
    EXPECT_EQ(getNecessarySpaceDir(src.c_str(), dst.c_str()), 100);
    std::vector<std::string> lines = TraceLines();
    EXPECT_TRUE(Contains(lines, "\t\t\t\tfd.cFileName = " + sub + ", --> Path too long"));
    int files = 0;
    for (const auto &line : lines)
        files += line.find("fd.cFileName = " + file + ", --> nSrc = 100, nDst = 0, uSize( ") != std::string::npos;
    EXPECT_EQ(files, 1);
}

TEST(DiskSpace, FreeSpaceOfDrivesThatCannotBeMeasured)
{
    EXPECT_EQ(getFreeSpaceDrive(26), 4294967295ULL);
    EXPECT_EQ(getFreeSpaceDrive(65535), 4294967295ULL);
    // A letter that no drive uses: the call fails, which counts as nothing free.
    DWORD drives = GetLogicalDrives();
    int unused = -1;
    for (int i = 25; i >= 3 && unused < 0; i--)
        if (!(drives & (1u << i)) && i != kSmallDiskIndex)
            unused = i;
    ASSERT_GE(unused, 0);
    EXPECT_EQ(getFreeSpaceDrive((unsigned short)unused), 0u);
    EXPECT_GT(getFreeSpaceDrive(2), 0u);
}

TEST(DiskSpace, EmptyDestinationListPasses)
{
    StringList none;
    TraceLogStart();
    EXPECT_EQ(checkSpace(none.get(), "C:\\"), 1);
    EXPECT_EQ(TraceLines(), std::vector<std::string>({"\t\t[checkSpace]>>", "\t\tubResult = 1", "\t\t[checkSpace]<<"}));
}

TEST(DiskSpace, NetworkPathCountsAs4294967295FreeBytes)
{
    std::string src = SourceWithOneFile("space_net", 5000);
    StringList dsts({"\\\\lumiserver\\share\\app\\"});
    TraceLogStart();
    EXPECT_EQ(checkSpace(dsts.get(), src.c_str()), 1);
    std::vector<std::string> lines = TraceLines();
    EXPECT_TRUE(Contains(lines, Need(5000, 4294967295ULL)));
    EXPECT_EQ(lines.front(), "\t\t[checkSpace]>>");
    EXPECT_EQ(lines[lines.size() - 2], "\t\tubResult = 1");
    EXPECT_EQ(lines.back(), "\t\t[checkSpace]<<");
}

class SmallDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        free_ = getFreeSpaceDrive(kSmallDiskIndex);
        if (GetDriveTypeA(kSmallDisk) == DRIVE_NO_ROOT_DIR || free_ == 0 || free_ > 1048576)
            GTEST_SKIP() << "no 1 MiB disk at " << kSmallDisk
                         << ": mounting a tmpfs was not permitted here (see smalldisk.sh's output)";
        RemoveTree(std::string(kSmallDisk) + "dst");
        ASSERT_TRUE(CreateDirectoryA((std::string(kSmallDisk) + "dst").c_str(), nullptr));
        free_ = getFreeSpaceDrive(kSmallDiskIndex);
    }
    void TearDown() override { RemoveTree(std::string(kSmallDisk) + "dst"); }

    std::string dst_ = std::string(kSmallDisk) + "dst\\";
    unsigned long long free_ = 0;
};

TEST_F(SmallDisk, NeedEqualToFreePassesOneByteMoreFails)
{
    ASSERT_LT(free_, 4294967295ULL);
    std::string equal = SourceWithOneFile("space_equal", (size_t)free_);
    StringList dsts({dst_});
    TraceLogStart();
    EXPECT_EQ(checkSpace(dsts.get(), equal.c_str()), 1);
    EXPECT_TRUE(Contains(TraceLines(), Need((long long)free_, free_)));

    std::string more = SourceWithOneFile("space_more", (size_t)free_ + 1);
    TraceLogStart();
    EXPECT_EQ(checkSpace(dsts.get(), more.c_str()), 0);
    std::vector<std::string> lines = TraceLines();
    EXPECT_TRUE(Contains(lines, Need((long long)free_ + 1, free_)));
    EXPECT_EQ(lines[lines.size() - 2], "\t\tubResult = 0");
}

TEST_F(SmallDisk, EveryDestinationIsMeasuredAfterOneFails)
{
    std::string src = SourceWithOneFile("space_three", (size_t)free_ + 4096);
    StringList dsts({dst_, "C:\\lumitest\\space_three_b\\", "\\\\lumiserver\\share\\"});
    TraceLogStart();
    EXPECT_EQ(checkSpace(dsts.get(), src.c_str()), 0);
    std::vector<std::string> lines = TraceLines();
    const std::string head = "\t\t\t dwNecessarySpace = ";
    int measured = 0;
    for (const auto &line : lines)
        measured += line.compare(0, head.size(), head) == 0;
    EXPECT_EQ(measured, 3);
    EXPECT_TRUE(Contains(lines, Need((long long)free_ + 4096, free_)));
    EXPECT_TRUE(Contains(lines, Need((long long)free_ + 4096, 4294967295ULL)));
    EXPECT_EQ(lines[lines.size() - 2], "\t\tubResult = 0");
}

// A smaller new version still stands beside its old one until the rename:
// on a full disk the check refuses it, though the net change is negative.
TEST_F(SmallDisk, ASmallerNewFileStillNeedsRoomBesideTheOld)
{
    HANDLE file = CreateFileA((dst_ + "new.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string chunk(4096, 'o');
    DWORD written = 0;
    unsigned long long total = 0;
    while (WriteFile(file, chunk.data(), (DWORD)chunk.size(), &written, nullptr) && written)
        total += written;
    CloseHandle(file);
    ASSERT_EQ(getFreeSpaceDrive(kSmallDiskIndex), 0u);
    ASSERT_EQ(GetFileSizeByFilename((dst_ + "new.bin").c_str()), total);

    std::string src = SourceWithOneFile("space_negative", 1000);
    StringList dsts({dst_});
    TraceLogStart();
    EXPECT_EQ(checkSpace(dsts.get(), src.c_str()), 0);
    std::vector<std::string> lines = TraceLines();
    EXPECT_TRUE(Contains(lines, "\t\t\tnSize = " + std::to_string(1000 - (long long)total)));
    EXPECT_TRUE(Contains(lines, Need(1000, 0)));
}

} // namespace
