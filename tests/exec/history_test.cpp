// The update history and the installed list, on real files of a test folder.
#include "base/tracelog.h"
#include "exec/history.h"
#include "exec/historytext.h"
#include "exec_testutil.h"
#include "testutil.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <gtest/gtest.h>

namespace {

std::string Merge(const std::string &oldValue, const std::string &id)
{
    char *merged = MergeInstalledIds(oldValue.c_str(), id.c_str());
    std::string text = merged ? merged : "<null>";
    free(merged);
    return text;
}

std::string NumberedIds(int from, int to, const std::string &prefix = "U")
{
    std::string text;
    for (int i = from; i <= to; i++)
        text += (text.empty() ? "" : ",") + prefix + std::to_string(i);
    return text;
}

TEST(InstalledIds, MergeKeepsFirstOccurrencesAndAppendsTheId)
{
    struct Case {
        std::string oldValue, id, expected;
    } cases[] = {
        {"", "U1", "U1"},
        {"U1,U2", "U3", "U1,U2,U3"},
        {"U1,U2,U1,,U3", "U4", "U1,U2,U3,U4"},
        {"U1,U2", "U1", "U1,U2,U1"},
        {"U1,U2,U1", "U3", "U1,U2,U3"},
        {"u1,U1", "U2", "u1,U1,U2"},
        {",,U1,,", "U2", "U1,U2"},
        {"U1,U10,U1", "U2", "U1,U10,U2"},
        {"ソフト,ソフト", "ポ", "ソフト,ポ"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Merge(c.oldValue, c.id), c.expected) << c.oldValue << " + " << c.id;
}

TEST(InstalledIds, MergeKeeps256EntriesAndNeverCutsOne)
{
    EXPECT_EQ(Merge(NumberedIds(1, 300), "X"), NumberedIds(1, 256) + ",X");
    // Repeats do not count towards the 256.
    EXPECT_EQ(Merge("U1,U1,U1," + NumberedIds(2, 256) + ",U257", "X"), NumberedIds(1, 256) + ",X");
    std::string longId(3000, 'L');
    std::string longOld = std::string(2000, 'a') + "," + std::string(2000, 'b');
    EXPECT_EQ(Merge(longOld, longId), longOld + "," + longId);
}

TEST(HistoryComment, SplitsAtTheFirstSlashOnly)
{
    struct Case {
        std::string comment, first, second;
    } cases[] = {
        {"2024年3月/データ更新", "2024年3月", "データ更新"},
        {"/b", "", "b"},
        {"a/", "a", ""},
        {"no slash", "no slash", ""},
        {"a/b/c", "a", "b/c"},
        {"", "", ""},
    };
    for (const Case &c : cases) {
        std::string copy = c.comment;
        char *first = nullptr;
        char *second = nullptr;
        SplitComment(&copy[0], &first, &second);
        EXPECT_EQ(std::string(first), c.first) << c.comment;
        EXPECT_EQ(std::string(second), c.second) << c.comment;
    }
}

// Today's date as the history writes it; taken around the call, so that a
// run across midnight is seen as such rather than as a fault.
std::string Today()
{
    time_t now = time(nullptr);
    struct tm local = *localtime(&now);
    char text[16];
    strftime(text, sizeof(text), "%Y%m%d", &local);
    return text;
}

struct LogResult {
    int result;
    std::string date;
};

LogResult CallLog(const std::string &folder, const char *comment, const char *id)
{
    std::string before = Today();
    int result = Log(folder.c_str(), comment, id);
    std::string after = Today();
    EXPECT_EQ(before, after) << "the date changed during the call; run again";
    return {result, after};
}

TEST(UpdateHistory, AppendsOneDatedLinePerCall)
{
    std::string dir = MakeTestDir("history_lines");
    LogResult r = CallLog(dir, "2024年3月/データ更新", "U0301");
    EXPECT_EQ(r.result, 1);
    std::string first = r.date + "\tU0301\t2024年3月\tデータ更新\r\n";
    EXPECT_EQ(ReadFileBytes(dir + "update.log"), first);

    struct Case {
        const char *comment, *fields;
    } cases[] = {
        {"a/", "a\t"}, {"/b", "\tb"}, {"no slash", "no slash\t"}, {"a/b/c", "a\tb/c"},
    };
    std::string expected = first;
    for (const Case &c : cases) {
        r = CallLog(dir, c.comment, "U2");
        EXPECT_EQ(r.result, 1);
        expected += r.date + "\tU2\t" + c.fields + "\r\n";
    }
    EXPECT_EQ(ReadFileBytes(dir + "update.log"), expected);
}

TEST(UpdateHistory, KeepsTheOldLinesAndNamesAMissingId)
{
    std::string dir = MakeTestDir("history_old");
    WriteFileBytes(dir + "update.log", "20200101\tU0\told\tline\r\n");
    LogResult r = CallLog(dir, "x/y", nullptr);
    EXPECT_EQ(ReadFileBytes(dir + "update.log"), "20200101\tU0\told\tline\r\n" + r.date + "\t(null)\tx\ty\r\n");
}

TEST(UpdateHistory, LongIdAndCommentAreWrittenWhole)
{
    std::string dir = MakeTestDir("history_long");
    std::string id(400, 'I');
    std::string comment = std::string(300, 'c') + "/" + std::string(300, 'd');
    LogResult r = CallLog(dir, comment.c_str(), id.c_str());
    EXPECT_EQ(ReadFileBytes(dir + "update.log"),
              r.date + "\t" + id + "\t" + std::string(300, 'c') + "\t" + std::string(300, 'd') + "\r\n");
}

TEST(UpdateHistory, FileHeldElsewhereIsSkippedSilently)
{
    std::string dir = MakeTestDir("history_held");
    std::string path = dir + "update.log";
    WriteFileBytes(path, "kept\r\n");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Log(dir.c_str(), "a/b", "U1"), 1);
    CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(path), "kept\r\n");
    // A folder that does not exist is the same: nothing written, no failure.
    EXPECT_EQ(Log((dir + "absent\\").c_str(), "a/b", "U1"), 1);
    EXPECT_FALSE(FileExists(dir + "absent"));
}

TEST(UpdateHistory, FolderWithoutRoomForTheFileIsSkipped)
{
    std::string folder = "C:\\" + std::string(250, 'f') + "\\";
    EXPECT_EQ(Log(folder.c_str(), "a/b", "U1"), 1);
    EXPECT_EQ(AddInstalledId(folder.c_str(), "U1"), 0);

    // Real folders at the limit: the folder's own backslash separates, so up
    // to 249 bytes the name and the terminator fit in 260.
    std::string base = MakeTestDir("history_limit");
    for (size_t bytes : {248u, 249u, 250u}) {
        SCOPED_TRACE(bytes);
        std::string dir = base + std::string(bytes - base.size() - 1, 'd') + "\\";
        ASSERT_EQ(dir.size(), bytes);
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
        bool fits = bytes <= 249;
        EXPECT_EQ(Log(dir.c_str(), "a/b", "U1"), 1);
        EXPECT_EQ(AddInstalledId(dir.c_str(), "U1") != 0, fits);
        std::vector<std::string> written;
        if (fits)
            written = {"MIRO42.INI", "update.log"};
        EXPECT_EQ(ListFolder(dir), written);
        if (fits) {
            EXPECT_EQ(ReadFileBytes(dir + "update.log"), Today() + "\tU1\ta\tb\r\n");
        }
    }
}

TEST(UpdateHistory, TraceLines)
{
    std::string dir = MakeTestDir("history_trace");
    TraceLogStart();
    Log(dir.c_str(), "a/b", "U1");
    std::vector<std::string> expected = {
        "\t\t[Log]>>", "\t\t\tpath    = " + dir, "\t\t\tcomment = a/b", "\t\tbResult = 1", "\t\t[Log]<<",
    };
    EXPECT_EQ(TraceLines(), expected);
}

} // namespace
