// CreateDirectoryAll and its walk over the levels of a path.
#include "exec/dirlevels.h"
#include "exec/filecmd.h"

#include "exec_testutil.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

struct Level {
    std::string prefix;
    bool networkRoot;
    bool operator==(const Level &o) const { return prefix == o.prefix && networkRoot == o.networkRoot; }
};

std::vector<Level> Levels(const std::string &path, size_t size, int *last)
{
    std::vector<Level> levels;
    DirLevels walk;
    DirLevelsStart(&walk, path.c_str());
    std::vector<char> prefix(size);
    while ((*last = DirLevelsNext(&walk, prefix.data(), size)) == 1)
        levels.push_back({prefix.data(), DirLevelIsNetworkRoot(&walk) != 0});
    return levels;
}

bool IsFolder(const std::string &path)
{
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(DirLevels, DrivePathsNetworkPathsAndDoubleByteNames)
{
    int last = 0;
    EXPECT_EQ(Levels("D:\\Top\\Mid\\", 260, &last),
              (std::vector<Level>{{"D:", false}, {"D:\\Top", false}, {"D:\\Top\\Mid", false}, {"D:\\Top\\Mid\\", false}}));
    EXPECT_EQ(last, 0);
    EXPECT_EQ(Levels("\\\\srv\\share\\dir", 260, &last),
              (std::vector<Level>{{"\\\\srv", true}, {"\\\\srv\\share", true}, {"\\\\srv\\share\\dir", false}}));
    // ソ and 表 end in the byte 0x5C.
    EXPECT_EQ(Levels("C:\\ソフト\\表", 260, &last), (std::vector<Level>{{"C:", false}, {"C:\\ソフト", false}, {"C:\\ソフト\\表", false}}));
    // A level that does not fit ends the walk; the ones before it were handed out.
    std::string longName(300, 'a');
    EXPECT_EQ(Levels("C:\\x\\" + longName + "\\y", 260, &last), (std::vector<Level>{{"C:", false}, {"C:\\x", false}}));
    EXPECT_EQ(last, -1);
    EXPECT_EQ(Levels(std::string(259, 'b'), 260, &last).size(), 1u);
    EXPECT_EQ(Levels(std::string(260, 'b'), 260, &last).size(), 0u);
    EXPECT_EQ(last, -1);
}

class CreateAllTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTestDir("filecmd_createall");
        StartTrace();
    }
    std::string dir;
};

TEST_F(CreateAllTest, CreatesEveryMissingLevelAndAgainNothing)
{
    std::string path = dir + "Top\\Mid\\Leaf\\";
    EXPECT_EQ(CreateDirectoryAll(path.c_str()), 1);
    EXPECT_TRUE(IsFolder(dir + "Top\\Mid\\Leaf"));
    EXPECT_EQ(CreateDirectoryAll(path.c_str()), 1);
    EXPECT_EQ(CreateDirectoryAll((dir + "Other\\Last").c_str()), 1);
    EXPECT_TRUE(IsFolder(dir + "Other\\Last"));
    EXPECT_EQ(TraceLines(),
              (std::vector<std::string>{"\t\t\t[CreateDirectoryAll]>>", "\t\t\t[CreateDirectoryAll(1)]<<",
                                        "\t\t\t[CreateDirectoryAll]>>", "\t\t\t[CreateDirectoryAll(1)]<<",
                                        "\t\t\t[CreateDirectoryAll]>>", "\t\t\t[CreateDirectoryAll(1)]<<"}));
}

TEST_F(CreateAllTest, NamesWithTheTrailByte5CStayWhole)
{
    EXPECT_EQ(CreateDirectoryAll((dir + "ソフト\\表示\\データ\\").c_str()), 1);
    EXPECT_TRUE(IsFolder(dir + "ソフト\\表示\\データ"));
    EXPECT_EQ(ListFolder(dir), std::vector<std::string>{"ソフト"});
    EXPECT_EQ(ListFolder(dir + "ソフト\\"), std::vector<std::string>{"表示"});
}

TEST_F(CreateAllTest, StopsAtALevelThatIsAFileAndTracesIt)
{
    ASSERT_TRUE(WriteFileBytes(dir + "plain.txt", "x"));
    EXPECT_EQ(CreateDirectoryAll((dir + "plain.txt\\sub\\").c_str()), 0);
    EXPECT_FALSE(FileExists(dir + "plain.txt\\sub"));
    EXPECT_EQ(TraceLines(), (std::vector<std::string>{"\t\t\t[CreateDirectoryAll]>>",
                                                      "\t\t\t\tFindFile( " + dir + "plain.txt\\* ) = 0",
                                                      "\t\t\t\tCreateDirectory( " + dir + "plain.txt, NULL ) = 0",
                                                      "\t\t\t[CreateDirectoryAll(0)]<<"}));
}

TEST_F(CreateAllTest, ALevelOf260BytesIsRefusedAfterTheShorterOnes)
{
    // dir is C:\lumitest\filecmd_createall\ (30 bytes).
    std::string fits = dir + std::string(259 - dir.size(), 'a');
    ASSERT_EQ(fits.size(), 259u);
    EXPECT_EQ(CreateDirectoryAll((fits + "\\b").c_str()), 0);
    EXPECT_TRUE(IsFolder(fits));
    EXPECT_EQ(ListFolder(fits + "\\").size(), 0u);
    std::string tooLong = dir + std::string(260 - dir.size(), 'c');
    EXPECT_EQ(CreateDirectoryAll(tooLong.c_str()), 0);
    EXPECT_EQ(ListFolder(dir).size(), 1u);
    std::vector<std::string> lines = TraceLines();
    EXPECT_EQ(CountLines(lines, "\t\t\t[CreateDirectoryAll(0)]<<"), 2u);
}

// Wine maps \\server\share\ to dosdevices/unc/server/share.
TEST_F(CreateAllTest, NetworkPathsReachTheirFoldersThroughServerAndShare)
{
    std::string c = UnixPath("C:\\");
    if (c.empty())
        GTEST_SKIP() << "needs Wine's mapping of network paths";
    std::string dosdevices = "Z:" + c.substr(0, c.find("/dosdevices/") + 11);
    for (char &ch : dosdevices)
        if (ch == '/')
            ch = '\\';
    std::string share = dosdevices + "\\unc\\lumihost\\share";
    RemoveTree(dosdevices + "\\unc\\lumihost");
    ASSERT_EQ(CreateDirectoryAll((share + "\\").c_str()), 1);

    EXPECT_EQ(CreateDirectoryAll("\\\\lumihost\\share\\upd\\data\\"), 1);
    EXPECT_TRUE(IsFolder(share + "\\upd\\data"));
    // A server that can be neither listed nor made (a file stands in its
    // place): the walk goes through it and its share and stops at the first
    // folder, which cannot be made.
    RemoveTree(dosdevices + "\\unc\\nohost");
    ASSERT_TRUE(WriteFileBytes(dosdevices + "\\unc\\nohost", ""));
    StartTrace();
    EXPECT_EQ(CreateDirectoryAll("\\\\nohost\\share\\upd\\"), 0);
    EXPECT_EQ(TraceLines(), (std::vector<std::string>{"\t\t\t[CreateDirectoryAll]>>",
                                                      "\t\t\t\tFindFile( \\\\nohost\\share\\upd\\* ) = 0",
                                                      "\t\t\t\tCreateDirectory( \\\\nohost\\share\\upd, NULL ) = 0",
                                                      "\t\t\t[CreateDirectoryAll(0)]<<"}));
    DeleteFileA((dosdevices + "\\unc\\nohost").c_str());
    RemoveTree(dosdevices + "\\unc\\lumihost");
}

TEST(FindFileTest, TellsWhetherAnythingMatches)
{
    std::string dir = MakeTestDir("filecmd_findfile");
    EXPECT_EQ(FindFile((dir + "*").c_str()), 1);
    EXPECT_EQ(FindFile((dir + "*.none").c_str()), 0);
    EXPECT_EQ(FindFile((dir + "nothere\\*").c_str()), 0);
}

} // namespace
