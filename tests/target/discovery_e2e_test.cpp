// The real updater searching for its destination: the question, the
// folder-browse dialog of another process, and the end with code 3.
#include "base/messages.h"
#include "discovery_browse.h"
#include "installed.h"
#include "testutil.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

namespace {

const std::string kQuestion = std::string(MessageTable[3]) + "自分で指定しますか？";
const std::string kScript = CrLf({"id=DISC-E2E", "target=1.", "copy=MIRO42.DLL"});

class DiscoveryEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY); }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY); }

    // Runs the updater; the browse dialog is driven by steps, found in its own process.
    RunResult Run(const std::string &dir, std::vector<RobotAnswer> answers, std::vector<BrowseStep> steps = {})
    {
        auto driver = std::make_shared<std::unique_ptr<BrowseDriver>>();
        RunOptions options;
        options.answers = answers;
        options.otherDialogs = [driver, steps](HWND dlg) {
            DWORD pid = 0;
            GetWindowThreadProcessId(dlg, &pid);
            if (!*driver)
                *driver = std::make_unique<BrowseDriver>(pid, steps);
            return (*driver)->Handle(dlg);
        };
        options.beforeAnswer = [this](HWND dlg, int) { defaults_.push_back(DefaultButton(dlg)); };
        RunResult r = RunProgram(dir + "Lumiupd.exe", "", options);
        if (*driver)
            seen_ = (*driver)->Seen();
        return r;
    }

    void ExpectEndsWithCode3(const RunResult &r)
    {
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 3u);
        ASSERT_FALSE(r.boxes.empty());
        EXPECT_EQ(r.boxes.back().caption, CAPTION_FINISHED);
        EXPECT_EQ(r.boxes.back().text, MessageTable[3]);
        EXPECT_EQ(r.boxes.back().icon, ICON_WARNING);
        std::vector<std::string> lines = TraceLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "nResult = 3");
        EXPECT_TRUE(std::find(lines.begin(), lines.end(), "\t[GetDstPath]<<") != lines.end());
        EXPECT_TRUE(std::find(lines.begin(), lines.end(), "\t[CheckFile]>>") == lines.end());
    }

    std::vector<int> defaults_;
    std::vector<BrowseSeen> seen_;
};

TEST_F(DiscoveryEndToEnd, NothingFoundAndNoEndsWithCode3)
{
    std::string dir = MakeUpdateFolder("disc_e2e_no", kScript);
    RunResult r = Run(dir, {{IDNO}, {IDOK}});
    ExpectEndsWithCode3(r);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[0].caption, CAPTION_CONFIRM);
    EXPECT_EQ(r.boxes[0].text, kQuestion);
    EXPECT_EQ(r.boxes[0].icon, ICON_QUESTION);
    ASSERT_EQ(r.boxes[0].buttons.size(), 2u);
    ASSERT_GE(defaults_.size(), 1u);
    EXPECT_EQ(defaults_[0], IDNO);
    EXPECT_TRUE(seen_.empty());
}

TEST_F(DiscoveryEndToEnd, RefusedFolderThenCancelEndsWithCode3)
{
    // A registered copy of the wrong version is passed over silently.
    std::string old = MakeInstalledFolder("disc_e2e_old", "0.50");
    InstalledRegistration reg("old", old);
    ASSERT_TRUE(reg.ok());
    std::string dir = MakeUpdateFolder("disc_e2e_cancel", kScript);
    RunResult r = Run(dir, {{IDYES}, {IDOK}, {IDOK}}, {{old, IDOK}, {"", IDCANCEL}});
    ExpectEndsWithCode3(r);
    ASSERT_EQ(r.boxes.size(), 3u);
    EXPECT_EQ(r.boxes[0].text, kQuestion);
    EXPECT_EQ(r.boxes[1].caption, CAPTION_ERROR);
    EXPECT_EQ(r.boxes[1].text, old + "\nこのフォルダには適用できません。");
    EXPECT_EQ(r.boxes[1].icon, ICON_ERROR);
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_TRUE(seen_[0].titleShown);
    EXPECT_TRUE(seen_[0].selected);
    EXPECT_TRUE(seen_[1].titleShown);
}

TEST_F(DiscoveryEndToEnd, ChosenFolderBecomesTheDestination)
{
    std::string right = MakeInstalledFolder("disc_e2e_right", "1.40");
    ASSERT_FALSE(right.empty());
    std::string dir = MakeUpdateFolder("disc_e2e_chosen", kScript);
    WriteFileBytes(dir + "MIRO42.DLL", "new library");
    RunResult r = Run(dir, {{IDYES}, {IDOK}}, {{right.substr(0, right.size() - 1), IDOK}});
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_EQ(r.boxes[0].text, kQuestion);
    EXPECT_EQ(r.boxes[1].caption, CAPTION_FINISHED);
    EXPECT_EQ(r.boxes[1].text, MessageTable[0]);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_TRUE(seen_[0].selected);
    EXPECT_TRUE(seen_[0].okEnabled);
    EXPECT_TRUE(ReadFileBytes(right + "MIRO42.DLL") == "new library");
    // The chosen folder reached the checks with its trailing backslash.
    std::vector<std::string> lines = TraceLines();
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), "\t\t\tpszDstPath\t\t= " + right) != lines.end());
}

} // namespace
