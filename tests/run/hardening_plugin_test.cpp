// A plug-in whose entry point faults: the command fails with a message and
// the updater goes on, in-process and in a real run.
#include "base/messages.h"
#include "base/tracelog.h"
#include "exec/addon.h"
#include "hardening_util.h"
#include "installed.h"
#include "selfrobot.h"

#include <gtest/gtest.h>

namespace {

// A copy of the test plug-in under a name of its own: a plug-in that faulted
// stays loaded and marked for the rest of the process.
std::string PlugInCopy(const std::string &name)
{
    std::string dir = MakeTestDir("crash_" + name);
    std::string path = dir + name + ".dll";
    EXPECT_TRUE(CopyFileA((BinDir() + "lumiplugin.dll").c_str(), path.c_str(), FALSE));
    return path;
}

struct Call {
    int result = -1;
    std::vector<DialogRecord> boxes;
    std::vector<std::string> trace;
};

Call CallAddOn(const std::string &dll, const char *func, const std::string &dst = "C:\\App\\data\\x.dat")
{
    Call call;
    AddOnExtra extra = {const_cast<char *>(dll.c_str()), const_cast<char *>(func)};
    TraceLogStart();
    call.boxes = BoxesDuring([&] { call.result = AddOn("D:\\upd\\data\\x.dat", dst.c_str(), &extra, nullptr); });
    call.trace = TraceLines();
    return call;
}

std::string UpdateFailed(const std::string &dst)
{
    return "'" + dst + "'の更新に失敗しました。";
}

TEST(PlugInCrash, EachFaultEndsAsAFailedCommandWithItsMessage)
{
    struct Case {
        const char *func;
        const char *code;
    } cases[] = {
        {"CrashAccess", "0xC0000005"},
        {"CrashDivide", "0xC0000094"},
        {"CrashIllegal", "0xC000001D"},
        {"CrashRaised", "0xE0001234"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.func);
        std::string dll = PlugInCopy(c.func);
        Call call = CallAddOn(dll, c.func);
        EXPECT_EQ(call.result, 0);
        ASSERT_EQ(call.boxes.size(), 1u);
        ExpectOkBox(call.boxes[0], UpdateFailed("C:\\App\\data\\x.dat"), ICON_ERROR);
        ASSERT_EQ(call.trace.size(), 8u);
        EXPECT_EQ(call.trace[0], "\t\t[AddOn]>>");
        EXPECT_EQ(call.trace[4], std::string("\t\t\tfunc = ") + c.func);
        std::string fault = std::string("\t\t\texception ") + c.code + " at ";
        EXPECT_EQ(call.trace[5].substr(0, fault.size()), fault) << call.trace[5];
        EXPECT_NE(call.trace[5].find("in the plug-in; it stays loaded"), std::string::npos) << call.trace[5];
        EXPECT_EQ(call.trace[6], "\t\tbResult = 0");
        EXPECT_EQ(call.trace[7], "\t\t[AddOn]<<");
        // Its detach code is never run: it stays loaded, and is not called again.
        EXPECT_NE(GetModuleHandleA(dll.c_str()), nullptr);
        Call again = CallAddOn(dll, "Status0");
        EXPECT_EQ(again.result, 0);
        ASSERT_EQ(again.boxes.size(), 1u);
        EXPECT_EQ(again.boxes[0].text, UpdateFailed("C:\\App\\data\\x.dat"));
        ASSERT_EQ(again.trace.size(), 8u);
        EXPECT_EQ(again.trace[5], "\t\t\tnot called: it faulted earlier in this run");
    }
}

// A fault that the plug-in's own code, or the system within a call, handles
// is no crash: the guard only sees what would have ended the process.
TEST(PlugInCrash, FaultsHandledOnTheWayAreNotCrashes)
{
    std::string dll = PlugInCopy("handled");
    Call call = CallAddOn(dll, "FaultHandledInside");
    EXPECT_EQ(call.result, 1);
    EXPECT_TRUE(call.boxes.empty());
    EXPECT_EQ(call.trace.size(), 7u);
    EXPECT_EQ(GetModuleHandleA(dll.c_str()), nullptr);
}

// After a fault, the process's handling of exceptions is whole again: the
// next plug-ins run, faults handled inside still are, and so are new crashes.
TEST(PlugInCrash, TheUpdaterGoesOnAfterAFault)
{
    std::string crashing = PlugInCopy("first");
    ASSERT_EQ(CallAddOn(crashing, "CrashAccess").result, 0);
    std::string next = PlugInCopy("next");
    Call fine = CallAddOn(next, "RecordPaths", MakeTestDir("crash_next_dst") + "x.dat");
    EXPECT_EQ(fine.result, 1);
    EXPECT_TRUE(fine.boxes.empty());
    EXPECT_EQ(CallAddOn(next, "FaultHandledInside").result, 1);
    EXPECT_EQ(GetModuleHandleA(next.c_str()), nullptr);
    std::string other = PlugInCopy("other");
    Call crash = CallAddOn(other, "CrashIllegal");
    EXPECT_EQ(crash.result, 0);
    EXPECT_EQ(crash.boxes.size(), 1u);
}

// The real updater: the plug-in's fault fails its command with the message,
// the run ends with code 4, and only what came before it changed.
TEST(PlugInCrash, ARealRunEndsWithCode4AndTheInstalledFilesKept)
{
    std::string app = MakeInstalledFolder("crash_run_app", "1.10");
    ASSERT_FALSE(app.empty());
    ASSERT_TRUE(WriteFileBytes(app + "MIRO42.INI", "[MAIN]\r\nINSTALLED=U1\r\n"));
    ASSERT_TRUE(WriteFileBytes(app + "x.dat", "old x"));
    std::string upd = MakeUpdateFolder("crash_run_upd",
                                       CrLf({"id=CRASH", "kakunin=更新します。", "target=1.1", "copy=MIRO42.DLL",
                                             "dll=x.dat,lumiplugin.dll,CrashAccess", "copy=x.dat", "log=a/b"}));
    ASSERT_TRUE(WriteFileBytes(upd + "MIRO42.DLL", "new library"));
    ASSERT_TRUE(WriteFileBytes(upd + "x.dat", "new x"));
    ASSERT_TRUE(CopyFileA((BinDir() + "lumiplugin.dll").c_str(), (upd + "lumiplugin.dll").c_str(), FALSE));
    TreeState before = ReadTree(app);

    RunOptions options;
    options.answers = {{IDYES}, {IDOK}, {IDOK}};
    RunResult r = RunProgram(upd + "Lumiupd.exe", "\"" + app + "\"", options);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 4u) << BoxTexts(r);
    ASSERT_EQ(r.boxes.size(), 3u) << BoxTexts(r);
    EXPECT_EQ(r.boxes[1].text, UpdateFailed(app + "x.dat"));
    EXPECT_EQ(r.boxes[1].icon, ICON_ERROR);
    EXPECT_EQ(r.boxes[2].caption, CAPTION_FINISHED);
    EXPECT_EQ(r.boxes[2].text, MessageTable[4]);

    std::vector<std::string> lines = TraceLines();
    auto fault = std::find_if(lines.begin(), lines.end(), [](const std::string &line) {
        return line.rfind("\t\t\texception 0xC0000005 at ", 0) == 0;
    });
    ASSERT_NE(fault, lines.end());
    ASSERT_GE(lines.end() - fault, 3);
    EXPECT_EQ(fault[1], "\t\tbResult = 0");
    EXPECT_EQ(fault[2], "\t\t[AddOn]<<");
    EXPECT_EQ(lines.back(), "nResult = 4");

    // The command before the fault did its work; nothing else changed.
    EXPECT_EQ(TreeChanges(before, ReadTree(app)), std::vector<std::string>{"MIRO42.DLL"});
    EXPECT_EQ(ReadFileBytes(app + "MIRO42.DLL"), "new library");
}

} // namespace
