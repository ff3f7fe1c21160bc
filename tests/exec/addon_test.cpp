// The "dll" command against a real plug-in built with the tests.
#include "base/tracelog.h"
#include "exec/addon.h"
#include "selfrobot.h"
#include "testutil.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

const char PLUGIN[] = "lumiplugin.dll";

struct AddOnRun {
    int result = -1;
    std::vector<DialogRecord> boxes;
    bool loadedDuringBox = false;
};

bool OwnBoxShown()
{
    return !ProcessWindows(GetCurrentProcessId(), "#32770").empty();
}

// Calls AddOn and notes whether the plug-in was still loaded while its
// message box was up.
AddOnRun CallAddOn(const char *src, const char *dst, const char *dll, const char *func)
{
    AddOnRun run;
    AddOnExtra extra = {const_cast<char *>(dll), const_cast<char *>(func)};
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done) {
            if (OwnBoxShown()) {
                run.loadedDuringBox = GetModuleHandleA(PLUGIN) != nullptr;
                return;
            }
            Sleep(10);
        }
    });
    run.boxes = BoxesDuring([&] { run.result = AddOn(src, dst, &extra, nullptr); }, {{IDOK, 300}});
    done = true;
    watcher.join();
    return run;
}

TEST(AddOn, EachStatusOfThePlugInGivesItsResultAndMessage)
{
    struct Case {
        const char *func;
        int result;
        std::string message;  // empty: no box
    } cases[] = {
        {"Status0", 1, ""},
        {"StatusMinus1", 0, "'C:\\App\\data\\x.dat'の更新に失敗しました。"},
        {"StatusMinus2", 0, "'lumiplugin.dll'の読み込みに失敗しました。"},
        {"Status1", 0, ""},
        {"StatusMinus3", 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.func);
        AddOnRun run = CallAddOn("D:\\upd\\data\\x.dat", "C:\\App\\data\\x.dat", PLUGIN, c.func);
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(GetModuleHandleA(PLUGIN), nullptr) << "the plug-in stays loaded";
        if (c.message.empty()) {
            EXPECT_TRUE(run.boxes.empty());
            continue;
        }
        ASSERT_EQ(run.boxes.size(), 1u);
        ExpectOkBox(run.boxes[0], c.message, ICON_ERROR);
        EXPECT_FALSE(run.loadedDuringBox) << "the box came before the plug-in was unloaded";
    }
}

TEST(AddOn, PlugInGetsBothPathsByStdcall)
{
    std::string dir = MakeTestDir("addon_paths");
    std::string src = "D:\\upd\\ソフト\\new.dat";
    std::string dst = dir + "ソフト.dat";
    AddOnRun run = CallAddOn(src.c_str(), dst.c_str(), PLUGIN, "RecordPaths");
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(ReadFileBytes(dst), src + "\r\n" + dst + "\r\n");
}

TEST(AddOn, MissingDllOrFunctionIsALoadFailureWithTheDllName)
{
    struct Case {
        const char *dll;
        const char *func;
    } cases[] = {{"no_such_plugin.dll", "Status0"}, {PLUGIN, "NoSuchEntry"}, {PLUGIN, "status0"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.dll) + " " + c.func);
        AddOnRun run = CallAddOn("D:\\s", "C:\\d", c.dll, c.func);
        EXPECT_EQ(run.result, 0);
        ASSERT_EQ(run.boxes.size(), 1u);
        ExpectOkBox(run.boxes[0], std::string("'") + c.dll + "'の読み込みに失敗しました。", ICON_ERROR);
        EXPECT_EQ(GetModuleHandleA(PLUGIN), nullptr);
    }
}

TEST(AddOn, OverlongNameGivesABoundedMessage)
{
    std::string dll(1500, 'a');
    AddOnRun run = CallAddOn("D:\\s", "C:\\d", dll.c_str(), "Status0");
    EXPECT_EQ(run.result, 0);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, "'" + std::string(1022, 'a'));
}

TEST(AddOn, TraceLines)
{
    TraceLogStart();
    AddOnRun run = CallAddOn("D:\\upd\\x.dat", "C:\\App\\x.dat", PLUGIN, "StatusMinus3");
    ASSERT_EQ(run.result, 0);
    std::vector<std::string> expected = {
        "\t\t[AddOn]>>",
        "\t\t\tsrc  = D:\\upd\\x.dat",
        "\t\t\tdst  = C:\\App\\x.dat",
        "\t\t\tdll  = lumiplugin.dll",
        "\t\t\tfunc = StatusMinus3",
        "\t\tbResult = 0",
        "\t\t[AddOn]<<",
    };
    EXPECT_EQ(TraceLines(), expected);
}

} // namespace
