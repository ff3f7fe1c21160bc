// Delete and Create on real files.
#include "exec/filecmd.h"

#include "exec_testutil.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

class DeleteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTestDir("filecmd_delete");
        StartTrace();
    }
    std::string dir;
};

// Also a file with a second name: that name goes, the other keeps the file.
// A symbolic link at the name is refused and its target stays.
TEST_F(DeleteTest, ExistingFileGoesWithoutAQuestion)
{
    std::string file = dir + "old.txt";
    std::string other = MakeTestDir("filecmd_delete_other") + "other.txt";
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    ASSERT_TRUE(CreateHardLinkA(other.c_str(), file.c_str(), nullptr));
    {
        BoxAnswerer boxes({});
        EXPECT_EQ(Delete(file.c_str(), nullptr), 1);
        EXPECT_TRUE(boxes.Boxes().empty());
    }
    EXPECT_FALSE(FileExists(file));
    EXPECT_EQ(ReadFileBytes(other), "x");
    EXPECT_EQ(TraceLines(), (std::vector<std::string>{"\t\t[Delete]>>", "\t\t\t" + file, "\t\tbResult = 1",
                                                      "\t\t[Delete]<<"}));
    UnixLink link(file, other);
    ASSERT_TRUE(link.Planted());
    BoxAnswerer refused({{IDABORT, nullptr}});
    EXPECT_EQ(Delete(file.c_str(), nullptr), 0);
    ASSERT_EQ(refused.Boxes().size(), 1u);
    EXPECT_EQ(refused.Boxes()[0].text, SystemText(ERROR_CANT_RESOLVE_FILENAME));
    EXPECT_EQ(ReadFileBytes(other), "x");
}

TEST_F(DeleteTest, MissingFileAsksAndTheAnswerDecides)
{
    std::string file = dir + "missing.txt";
    struct Case {
        std::vector<BoxAnswerer::Step> steps;
        int result;
        size_t prompts;
    } cases[] = {{{{IDABORT, nullptr}}, 0, 1},
                 {{{IDIGNORE, nullptr}}, 1, 1},
                 {{{IDRETRY, nullptr}, {IDABORT, nullptr}}, 0, 2}};
    for (const Case &c : cases) {
        BoxAnswerer boxes(c.steps);
        EXPECT_EQ(Delete(file.c_str(), nullptr), c.result);
        std::vector<DialogRecord> seen = boxes.Boxes();
        ASSERT_EQ(seen.size(), c.prompts);
        for (const auto &box : seen) {
            EXPECT_EQ(box.text, SystemText(ERROR_FILE_NOT_FOUND));
            EXPECT_EQ(box.icon, ICON_WARNING);
            ASSERT_EQ(box.buttons.size(), 3u);
        }
    }
}

TEST_F(DeleteTest, FileHeldOpenIsDeletedByRetryOnceReleased)
{
    std::string file = dir + "held.txt";
    ASSERT_TRUE(WriteFileBytes(file, "x"));
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    BoxAnswerer boxes({{IDRETRY, [&](HWND) { CloseHandle(held); }}});
    EXPECT_EQ(Delete(file.c_str(), nullptr), 1);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, SystemText(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(FileExists(file));
}

TEST_F(DeleteTest, PromptThatCannotBeShownFails)
{
    std::string file = dir + "missing.txt";
    BoxAnswerer boxes({});
    EXPECT_EQ(Delete(file.c_str(), (HWND)(ULONG_PTR)0x7FFF0), 0);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(CreateTest, ExistingFolderIsSuccessAndParentlessIsFailureWithoutPrompt)
{
    std::string dir = MakeTestDir("filecmd_create");
    StartTrace();
    BoxAnswerer boxes({});
    std::string fresh = dir + "fresh";
    EXPECT_EQ(Create(fresh.c_str()), 1);
    EXPECT_EQ(Create(fresh.c_str()), 1);
    std::string orphan = dir + "no\\such";
    EXPECT_EQ(Create(orphan.c_str()), 0);
    EXPECT_FALSE(FileExists(orphan));
    EXPECT_TRUE(boxes.Boxes().empty());

    std::string text183 = SystemText(ERROR_ALREADY_EXISTS);
    std::string text3 = SystemText(ERROR_PATH_NOT_FOUND);
    // The system texts end in CR LF, so a line holds the text and the next
    // starts with its full stop.
    std::vector<std::string> expected = {
        "\t\t[Create]>>", "\t\t\tDname = " + fresh, "", "\t\t\tCreateDirectory.", "\t\t\t\tSucceed.",
        "\t\tbResult = 1", "\t\t[Create]<<",
        "\t\t[Create]>>", "\t\t\tDname = " + fresh, "", "\t\t\tCreateDirectory.",
        "\t\t\t\tFailed. GetLastError() = 183", "\t\t\t\t" + text183.substr(0, text183.size() - 2) + "\r", ".",
        "\t\tbResult = 1", "\t\t[Create]<<",
        "\t\t[Create]>>", "\t\t\tDname = " + orphan, "", "\t\t\tCreateDirectory.",
        "\t\t\t\tFailed. GetLastError() = 3", "\t\t\t\t" + text3.substr(0, text3.size() - 2) + "\r", ".",
        "\t\tbResult = 0", "\t\t[Create]<<"};
    EXPECT_EQ(TraceLines(), expected);
}

} // namespace
