// Destination discovery on the real registry, real folders and the real
// question and folder-browse dialog, answered by a robot watching this process.
#include "base/dryrun.h"
#include "base/messages.h"
#include "base/tracelog.h"
#include "discovery_browse.h"
#include "installed.h"
#include "robot.h"
#include "target/discovery.h"
#include "testlists.h"
#include "testutil.h"

#include <windows.h>
#include <shlobj.h>

#include <ctype.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const char kAsk[] = "自分で指定しますか？";
const char kRefused[] = "\nこのフォルダには適用できません。";

void ClearInstalledCopies()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, INSTALLED_KEY);
}

// Trace lines of one registry subkey whose "Path" reads as path.
std::vector<std::string> SubkeyLines(const std::string &path, bool accepted)
{
    std::vector<std::string> lines = {"\t\t\t RegEnumKeyEx == ERROR_SUCCESS", "\t\t\t RegOpenKeyEx == ERROR_SUCCESS",
                                      "\t\t\t RegQueryValueEx == ERROR_SUCCESS", "\t\t\t szPath = " + path};
    if (accepted)
        lines.push_back("\t\t\t\t szPath is Targets");
    return lines;
}

std::string Index(int i)
{
    return "\t\t\t dwIndex = " + std::to_string(i);
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override { ClearInstalledCopies(); }
    void TearDown() override { ClearInstalledCopies(); }

    // Runs GetDstPath with a robot answering boxes and driving the browse dialog.
    std::vector<std::string> Discover(const char *install, std::vector<RobotAnswer> answers = {},
                                      std::vector<BrowseStep> steps = {}, PtrList *targets = nullptr)
    {
        OkEnableRecorder recorder;
        BrowseDriver driver(GetCurrentProcessId(), steps);
        DialogRobot robot(GetCurrentProcessId(), answers);
        robot.SetOtherDialogHandler([&driver](HWND dlg) { return driver.Handle(dlg); });
        robot.SetBeforeAnswerHandler([this](HWND dlg, int) { defaults_.push_back(DefaultButton(dlg)); });
        robot.Start();
        StringList dsts;
        TraceLogStart();
        EXPECT_EQ(GetDstPath(targets ? targets : targets_.get(), dsts.get(), install), 1);
        robot.Stop();
        boxes_ = robot.MessageBoxes();
        seen_ = driver.Seen();
        for (size_t i = 0; i < seen_.size(); i++) {
            EXPECT_TRUE(seen_[i].titleShown);
            if (i < steps.size() && !steps[i].select.empty()) {
                EXPECT_TRUE(seen_[i].selected) << "the dialog never showed " << steps[i].select;
            }
        }
        return dsts.Items();
    }

    StringList targets_{{"1."}};
    std::vector<DialogRecord> boxes_;
    std::vector<int> defaults_;
    std::vector<BrowseSeen> seen_;
};

TEST_F(Discovery, RegisteredCopiesInEnumerationOrderOnlyWhenAccepted)
{
    std::string first = MakeInstalledFolder("disc_first", "1.05");
    std::string refused = MakeInstalledFolder("disc_refused", "2.00");
    std::string second = MakeInstalledFolder("disc_second", "1.00");
    ASSERT_FALSE(first.empty() || refused.empty() || second.empty());
    std::string bare = second.substr(0, second.size() - 1);
    // Subkeys enumerate by name, not by the order they were made in.
    InstalledRegistration c("c_second", bare);
    InstalledRegistration a("a_first", first);
    InstalledRegistration b("b_refused", refused);
    ASSERT_TRUE(a.ok() && b.ok() && c.ok());

    EXPECT_EQ(Discover("C:\\lumitest\\disc_unused_install\\"), std::vector<std::string>({first, second}));
    EXPECT_TRUE(boxes_.empty()) << "a refused copy causes no message";
    EXPECT_FALSE(FileExists("C:\\lumitest\\disc_unused_install")) << "registry finds hide the install folder";
    std::vector<std::string> expected = {"\t[GetDstPath]>>", "\t\t RegOpenKeyEx() == ERROR_SUCCESS", Index(0)};
    for (auto part : {SubkeyLines(first, true), {Index(1)}, SubkeyLines(refused, false), {Index(2)},
                      SubkeyLines(bare, true), {Index(3)}, {"\t[GetDstPath]<<"}})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(TraceLines(), expected);
}

TEST_F(Discovery, PathsDifferingInCaseOrBackslashGiveOneDestination)
{
    std::string dir = MakeInstalledFolder("disc_dup", "1.00");
    ASSERT_FALSE(dir.empty());
    std::string bare = dir.substr(0, dir.size() - 1);
    std::string upper = "C:\\LUMITEST\\DISC_DUP";
    InstalledRegistration a("a", dir);
    InstalledRegistration b("b", upper);
    InstalledRegistration c("c", bare);
    ASSERT_TRUE(a.ok() && b.ok() && c.ok());
    EXPECT_EQ(Discover(nullptr), std::vector<std::string>({dir}));
    EXPECT_TRUE(boxes_.empty());
    int accepted = 0;
    for (const auto &line : TraceLines())
        accepted += line == "\t\t\t\t szPath is Targets";
    EXPECT_EQ(accepted, 3) << "each is accepted by the gate, then dropped as a duplicate";
}

TEST_F(Discovery, UnreadableOversizedAndEmptyPathsArePassedOver)
{
    std::string good = MakeInstalledFolder("disc_good", "1.00");
    ASSERT_FALSE(good.empty());
    InstalledRegistration good1("z_good", good);
    // No "Path" value at all.
    InstalledRegistration noPath("a_nopath", good);
    ASSERT_TRUE(good1.ok() && noPath.ok());
    HKEY key;
    std::string base = std::string(INSTALLED_KEY) + "\\";
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (base + "a_nopath").c_str(), 0, KEY_WRITE, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "Path");
    RegCloseKey(key);
    // 260 bytes without a terminator, as a string and as raw bytes.
    std::string full(260, 'q');
    for (DWORD type : {REG_SZ, REG_BINARY}) {
        std::string name = type == REG_SZ ? "b_unterminated" : "c_binary";
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (base + name).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "Path", 0, type, (const BYTE *)full.data(), (DWORD)full.size());
        RegCloseKey(key);
    }
    // 259 bytes: no room left for the backslash.
    std::string longPath = "C:\\" + std::string(256, 'l');
    InstalledRegistration tooLong("d_259", longPath);
    InstalledRegistration empty("e_empty", "");
    ASSERT_TRUE(tooLong.ok() && empty.ok());

    EXPECT_EQ(Discover(nullptr), std::vector<std::string>({good}));
    EXPECT_TRUE(boxes_.empty());
    std::vector<std::string> lines = TraceLines();
    std::vector<std::string> expected = {"\t[GetDstPath]>>", "\t\t RegOpenKeyEx() == ERROR_SUCCESS", Index(0)};
    for (auto part : {std::vector<std::string>{"\t\t\t RegEnumKeyEx == ERROR_SUCCESS",
                                               "\t\t\t RegOpenKeyEx == ERROR_SUCCESS", Index(1)},
                      {"\t\t\t RegEnumKeyEx == ERROR_SUCCESS", "\t\t\t RegOpenKeyEx == ERROR_SUCCESS", Index(2)},
                      {"\t\t\t RegEnumKeyEx == ERROR_SUCCESS", "\t\t\t RegOpenKeyEx == ERROR_SUCCESS", Index(3)},
                      SubkeyLines(longPath, false), {Index(4)}, SubkeyLines("", false), {Index(5)},
                      SubkeyLines(good, true), {Index(6)}, {"\t[GetDstPath]<<"}})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(lines, expected);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (base + "b_unterminated").c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (base + "c_binary").c_str());
}

TEST_F(Discovery, InstallFolderIsCreatedWithoutGateOrQuestion)
{
    RemoveTree("C:\\lumitest\\disc_install");
    // A registered copy that the gate refuses does not count as a find.
    std::string refused = MakeInstalledFolder("disc_install_refused", "9.00");
    InstalledRegistration r("r", refused);
    ASSERT_TRUE(r.ok());
    std::string install = "C:\\lumitest\\disc_install\\new\\deeper\\";
    // A dry run takes it as the real run would, without making it.
    SetDryRun(1);
    EXPECT_EQ(Discover(install.c_str()), std::vector<std::string>({install}));
    SetDryRun(0);
    EXPECT_FALSE(FileExists("C:\\lumitest\\disc_install")) << "the dry run made the install folder";
    EXPECT_EQ(Discover(install.c_str()), std::vector<std::string>({install}));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(GetFileAttributesA(install.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(FileExists(install + "RT_IDX.DAT")) << "the install folder holds no data file";
    RemoveTree("C:\\lumitest\\disc_install");

    // The install folder naming that refused copy itself (in other letter
    // case, with or without its backslash) does not get round the gate: the
    // search goes on with the question.
    std::string upper = refused;
    for (char &c : upper)
        c = (char)toupper((unsigned char)c);
    for (const std::string &same : {upper, refused.substr(0, refused.size() - 1)}) {
        SCOPED_TRACE(same);
        EXPECT_TRUE(Discover(same.c_str(), {{IDNO}}).empty());
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text, std::string(MessageTable[3]) + kAsk);
    }

    // Only a version read and refused holds the install folder back: not a
    // script without patterns (the install folder is all it can reach), nor a
    // registration left behind by an uninstall, its data file or folder gone.
    StringList noTargets;
    EXPECT_EQ(Discover(refused.c_str(), {{IDNO}}, {}, noTargets.get()), std::vector<std::string>({refused}));
    EXPECT_TRUE(boxes_.empty());
    ASSERT_TRUE(DeleteFileA((refused + "RT_IDX.DAT").c_str()));
    EXPECT_EQ(Discover(refused.c_str(), {{IDNO}}), std::vector<std::string>({refused}));
    EXPECT_TRUE(boxes_.empty());
    RemoveTree(refused);
    ASSERT_FALSE(FileExists(refused));
    EXPECT_EQ(Discover(refused.c_str(), {{IDNO}}), std::vector<std::string>({refused}));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(FileExists(refused)) << "the install folder is made again";
}

TEST_F(Discovery, NothingFoundAsksAndNoEndsWithNothing)
{
    // No key at all, and an install folder that cannot be made: the question.
    std::string blocker = MakeTestDir("disc_blocked");
    WriteFileBytes(blocker + "file", "x");
    EXPECT_TRUE(Discover((blocker + "file\\sub\\").c_str(), {{IDNO}}).empty());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, CAPTION_CONFIRM);
    EXPECT_EQ(boxes_[0].text, std::string(MessageTable[3]) + kAsk);
    EXPECT_EQ(boxes_[0].icon, ICON_QUESTION);
    ASSERT_EQ(boxes_[0].buttons.size(), 2u);
    EXPECT_EQ(boxes_[0].buttons[0].id, IDYES);
    EXPECT_EQ(boxes_[0].buttons[1].id, IDNO);
    ASSERT_EQ(defaults_.size(), 1u);
    EXPECT_EQ(defaults_[0], IDNO);
    EXPECT_TRUE(seen_.empty()) << "No opens no dialog";
    std::vector<std::string> lines = TraceLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "\t[GetDstPath]>>");
    EXPECT_EQ(lines.back(), "\t[GetDstPath]<<");
    for (const auto &line : lines)
        EXPECT_EQ(line.find("RegOpenKeyEx"), std::string::npos) << "there is no key to open";
}

TEST_F(Discovery, BrowseDisablesOkWithoutTheLibraryAndCancelEndsTheSearch)
{
    std::string empty = MakeTestDir("disc_browse_nodll");
    EXPECT_TRUE(Discover(nullptr, {{IDYES}}, {{empty, IDCANCEL}}).empty());
    ASSERT_EQ(boxes_.size(), 1u);
    ASSERT_EQ(seen_.size(), 1u);
    // The callback's decision for the folder, whatever Wine does next.
    ASSERT_FALSE(seen_[0].okEnableMsgs.empty());
    EXPECT_FALSE(seen_[0].okEnableMsgs[0]);
}

TEST_F(Discovery, BrowseRefusesAWrongVersionAndOpensAgain)
{
    std::string wrong = MakeInstalledFolder("disc_browse_wrong", "2.00");
    std::string right = MakeInstalledFolder("disc_browse_right", "1.50");
    ASSERT_FALSE(wrong.empty() || right.empty());
    std::string rightBare = right.substr(0, right.size() - 1);
    EXPECT_EQ(Discover(nullptr, {{IDYES}, {IDOK}}, {{wrong, IDOK}, {rightBare, IDOK}}),
              std::vector<std::string>({right}));
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].caption, CAPTION_ERROR);
    EXPECT_EQ(boxes_[1].text, wrong + kRefused);
    EXPECT_EQ(boxes_[1].icon, ICON_ERROR);
    ASSERT_EQ(boxes_[1].buttons.size(), 1u);
    EXPECT_EQ(boxes_[1].buttons[0].id, IDOK);
    ASSERT_EQ(seen_.size(), 2u);
    for (const auto &seen : seen_) {
        EXPECT_TRUE(seen.okEnabled);
        for (bool enabled : seen.okEnableMsgs)
            EXPECT_TRUE(enabled) << "OK was disabled on a folder holding the library";
    }
}

// The callback on its own, on a window with an OK button.
class BrowseCallback : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ok_ = CreateWindowExA(0, "BUTTON", "OK", WS_CHILD, 0, 0, 5, 5, parent_, (HMENU)(INT_PTR)IDOK, nullptr,
                              nullptr);
        ASSERT_TRUE(parent_ && ok_);
    }
    void TearDown() override { DestroyWindow(parent_); }

    bool EnabledAfter(UINT msg, LPITEMIDLIST item, bool before)
    {
        EnableWindow(ok_, before);
        EXPECT_EQ(BrowseFolderCallback(parent_, msg, (LPARAM)item, 0), 0);
        return IsWindowEnabled(ok_) != FALSE;
    }

    HWND parent_ = nullptr;
    HWND ok_ = nullptr;
};

TEST_F(BrowseCallback, OkFollowsTheLibraryOfTheSelection)
{
    std::string with = MakeInstalledFolder("disc_cb_with", "0");
    std::string without = MakeTestDir("disc_cb_without");
    CreateDirectoryA((without + "sub").c_str(), nullptr);
    WriteFileBytes(without + "sub\\MIRO42.DLL", "x");  // only deeper down
    LPITEMIDLIST withItem = ILCreateFromPathA(with.c_str());
    LPITEMIDLIST withoutItem = ILCreateFromPathA(without.c_str());
    LPITEMIDLIST computer = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer)));
    ASSERT_TRUE(withItem && withoutItem);
    EXPECT_TRUE(EnabledAfter(BFFM_SELCHANGED, withItem, false));
    EXPECT_FALSE(EnabledAfter(BFFM_SELCHANGED, withoutItem, true));
    EXPECT_FALSE(EnabledAfter(BFFM_SELCHANGED, computer, true)) << "a virtual folder has no path";
    // Only selection changes count.
    EXPECT_FALSE(EnabledAfter(BFFM_INITIALIZED, withItem, false));
    EXPECT_TRUE(EnabledAfter(BFFM_VALIDATEFAILEDA, withoutItem, true));
    ILFree(withItem);
    ILFree(withoutItem);
    ILFree(computer);
}

} // namespace
