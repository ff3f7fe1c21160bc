// The executor over real destination folders, in this process.
#include "exec/update.h"

#include "exec/filereplace.h"
#include "exec_testutil.h"
#include "progressread.h"
#include "testlists.h"
#include "testutil.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

// The updater's module as a data file: the dialog template comes from it.
class UpdaterResources {
public:
    UpdaterResources() { module_ = LoadLibraryExA((BinDir() + "Lumiupd.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE); }
    ~UpdaterResources()
    {
        if (module_)
            FreeLibrary(module_);
    }
    void *get() const { return module_; }

private:
    HMODULE module_;
};

bool IsFolder(const std::string &path)
{
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        src = MakeTestDir("update_src");
        dst1 = MakeTestDir("update_dst1");
        dst2 = MakeTestDir("update_dst2");
        ASSERT_TRUE(WriteFileBytes(src + "a.txt", "A"));
        ASSERT_TRUE(WriteFileBytes(src + "b.txt", "B"));
        StartTrace();
    }
    // Runs Update while watching for the progress dialog (by its class and
    // its bar: no message is sent to it) and for questions.
    int Run(StringList &dsts, CommandList &commands, const char *id, int silent, bool *dialogSeen = nullptr)
    {
        std::atomic<bool> stop{false}, seen{false};
        std::thread watch([&] {
            while (!stop && !seen) {
                seen = FindProgressDialog(GetCurrentProcessId()) != nullptr;
                Sleep(10);
            }
        });
        BoxAnswerer boxes({});
        int result = Update(resources.get(), src.c_str(), dsts.get(), commands.get(), id, silent);
        stop = true;
        watch.join();
        EXPECT_TRUE(boxes.Boxes().empty());
        EXPECT_EQ(FindProgressDialog(GetCurrentProcessId()), nullptr) << "the dialog is destroyed";
        if (dialogSeen)
            *dialogSeen = seen;
        return result;
    }
    UpdaterResources resources;
    std::string src, dst1, dst2;
};

// The first destination lacks "sub", so its "create" fails; the second has it
// and is updated, but the update as a whole has failed.
TEST_F(UpdateTest, TwoDestinationsTheFirstFailingAtItsSecondCommand)
{
    for (int silent : {0, 2}) {
        SCOPED_TRACE(silent);
        SetUp();
        ASSERT_TRUE(CreateDirectoryA((dst2 + "sub").c_str(), nullptr));
        StringList dsts({dst1, dst2});
        CommandList commands;
        commands.Add("a.txt", 1);
        commands.Add("sub\\deep", 7);
        commands.Add("b.txt", 1);
        bool dialogSeen = false;
        EXPECT_EQ(Run(dsts, commands, "U0200", silent, &dialogSeen), 0);
        EXPECT_EQ(dialogSeen, silent == 0);
        EXPECT_TRUE(PtrListIsEmpty(dsts.get()));
        // Only the destination whose commands all went through has the id.
        EXPECT_EQ(ListFolder(dst1), std::vector<std::string>{"a.txt"});
        EXPECT_EQ(ListFolder(dst2), (std::vector<std::string>{"MIRO42.INI", "a.txt", "b.txt", "sub"}));
        EXPECT_EQ(InstalledIds(dst2), "U0200");
        EXPECT_TRUE(IsFolder(dst2 + "sub\\deep"));
        std::vector<std::string> lines = TraceLines();
        EXPECT_EQ(CountLines(lines, "\t\t[Copy]>>"), 3u);
        EXPECT_EQ(lines.front(), "\t[Update]>>");
        EXPECT_EQ(lines[lines.size() - 2], "\tbResult = 0");
        EXPECT_EQ(lines.back(), "\t[Update]<<");
    }
}

TEST_F(UpdateTest, TheLastDestinationFailingAfterASuccessFailsToo)
{
    StringList dsts({dst2, dst1});
    ASSERT_TRUE(CreateDirectoryA((dst2 + "sub").c_str(), nullptr));
    CommandList commands;
    commands.Add("sub\\deep", 7);
    commands.Add("a.txt", 1);
    EXPECT_EQ(Run(dsts, commands, "U0200", 2), 0);
    EXPECT_EQ(ListFolder(dst2), (std::vector<std::string>{"MIRO42.INI", "a.txt", "sub"}));
    EXPECT_TRUE(ListFolder(dst1).empty());
}

TEST_F(UpdateTest, NoCommandsIsSuccessForEveryDestination)
{
    StringList dsts({dst1, dst2});
    CommandList commands;
    EXPECT_EQ(Run(dsts, commands, "U0200", 0), 1);
    EXPECT_TRUE(PtrListIsEmpty(dsts.get()));
    EXPECT_EQ(InstalledIds(dst1), "U0200");
    EXPECT_EQ(InstalledIds(dst2), "U0200");
    EXPECT_EQ(TraceLines(), (std::vector<std::string>{"\t[Update]>>", "\tbResult = 1", "\t[Update]<<"}));
}

// Files that a run cut off by a power failure left go, in each destination
// folder and in the folders the script copies into, through their handles.
// Names that only look alike, files held by a live run, links and files
// elsewhere stay, and nothing a link leads to changes.
TEST_F(UpdateTest, LeftoversAreClearedOnlyWhereTheScriptWrites)
{
    for (const char *sub : {"sub", "notes"})
        ASSERT_TRUE(CreateDirectoryA((dst1 + sub).c_str(), nullptr));
    const std::vector<std::string> leftovers = {"~lu0123456789ABCDEF.tmp", "sub\\~luFEDCBA9876543210.tmp"};
    const std::vector<std::string> kept = {"~lu0badf00d.tmp", "~lu0123456789abcdee.tmp", "~lu0123456789ABCDEF.tmpx",
                                           "~lu1111111111111111.tmp", "~lu2222222222222222.tmp",
                                           "~lu3333333333333333.tmp", "notes\\~lu00000000DEADBEEF.tmp"};
    for (const std::string &name : leftovers)
        ASSERT_TRUE(WriteFileBytes(dst1 + name, "part"));
    for (const std::string &name : {kept[0], kept[1], kept[2], kept[3], kept[6]})
        ASSERT_TRUE(WriteFileBytes(dst1 + name, "keep"));
    ASSERT_TRUE(WriteFileBytes(dst2 + "~luFFFFFFFFFFFFFFFF.tmp", "part"));
    // A file outside both folders, reached by a hard link and a symbolic link
    // under leftover names; and a leftover a live run still holds.
    std::string outside = MakeTestDir("update_outside") + "protected.txt";
    ASSERT_TRUE(WriteFileBytes(outside, "protected"));
    ASSERT_TRUE(SetFileAttributesA(outside.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateHardLinkA((dst1 + kept[4]).c_str(), outside.c_str(), nullptr));
    UnixLink link(dst1 + kept[5], outside);
    ASSERT_TRUE(link.Planted());
    HANDLE held = CreateFileA((dst1 + kept[3]).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    StringList dsts({dst1, dst2});
    CommandList commands;
    commands.Add("sub\\x.dat", 1);
    commands.Add("notes.txt", 2);
    ClearLeftoversFor(dsts.get(), commands.get());
    CloseHandle(held);

    for (const std::string &name : kept)
        EXPECT_TRUE(FileExists(dst1 + name)) << name;
    for (const std::string &name : leftovers)
        EXPECT_FALSE(FileExists(dst1 + name)) << name;
    EXPECT_TRUE(ListFolder(dst2).empty());
    EXPECT_EQ(ReadFileBytes(outside), "protected");
    EXPECT_EQ(GetFileAttributesA(outside.c_str()) & FILE_ATTRIBUTE_READONLY, (DWORD)FILE_ATTRIBUTE_READONLY);
    std::vector<std::string> lines = TraceLines();
    std::sort(lines.begin(), lines.end());
    std::vector<std::string> expected = {"\t\tleftover removed - " + dst1 + leftovers[0],
                                         "\t\tleftover removed - " + dst1 + leftovers[1],
                                         "\t\tleftover removed - " + dst2 + "~luFFFFFFFFFFFFFFFF.tmp"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    SetFileAttributesA(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(UpdateTest, UnknownCommandEndsItsDestinationAndTheNextStartsAgain)
{
    StringList dsts({dst1, dst2});
    CommandList commands;
    commands.Add("first", 7);
    commands.Add("b.txt", 9);
    commands.Add("second", 7);
    EXPECT_EQ(Run(dsts, commands, "U0200", 2), 0);
    for (const std::string &d : {dst1, dst2})
        EXPECT_EQ(ListFolder(d), std::vector<std::string>{"first"}) << d;
    EXPECT_EQ(CountLines(TraceLines(), "\t\t[Create]>>"), 2u);
}

TEST_F(UpdateTest, EverySuccessfulCommandIsFollowedByAPause)
{
    StringList dsts({dst1});
    CommandList commands;
    commands.Add("one", 7);
    commands.Add("two", 7);
    commands.Add("three", 7);
    DWORD start = GetTickCount();
    EXPECT_EQ(Update(nullptr, src.c_str(), dsts.get(), commands.get(), nullptr, 2), 1);
    EXPECT_GE(GetTickCount() - start, 3 * 200u - 20);
}

// A copy that cannot reach its folder asks; while it asks, the dialog shows
// that command and the two steps done before it.
TEST_F(UpdateTest, ProgressDialogShowsTheCurrentCommandAndTheStepsDone)
{
    ASSERT_TRUE(CreateDirectoryA((src + "sub").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(src + "sub\\c.txt", "C"));
    ASSERT_TRUE(WriteFileBytes(src + "c.txt", "C"));
    StringList dsts({dst1});
    CommandList commands;
    commands.Add("a.txt", 1);
    commands.Add("b.txt", 1);
    commands.Add("sub\\c.txt", 1);  // no such folder in the destination
    commands.Add("c.txt", 1);
    ProgressReading seen;
    BoxAnswerer boxes({{IDIGNORE, [&](HWND) { seen = ReadProgress(FindProgressDialog(GetCurrentProcessId())); }}});
    EXPECT_EQ(Update(resources.get(), src.c_str(), dsts.get(), commands.get(), nullptr, 0), 1);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(seen.caption, "処理中です...");
    EXPECT_EQ(seen.source, src + "sub\\c.txt");
    EXPECT_EQ(seen.destination, dst1 + "sub\\c.txt");
    EXPECT_EQ(seen.position, 2);
    EXPECT_EQ(seen.low, 0);
    EXPECT_EQ(seen.high, 4);
    EXPECT_EQ(ListFolder(dst1), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

} // namespace
