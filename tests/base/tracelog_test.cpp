#include "base/tracelog.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <stdarg.h>
#include <string.h>

#include <vector>

namespace {

// Points the log at a file of the test's own and restores the real path after.
class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = szLogPath;
        dir_ = MakeTestDir("tracelog");
        path_ = dir_ + "trace.log";
        StrCopy(szLogPath, sizeof(szLogPath), path_.c_str());
        WriteFileBytes(path_, "");
    }
    void TearDown() override
    {
        TraceLogStop();
        StrCopy(szLogPath, sizeof(szLogPath), saved_.c_str());
    }
    std::string Log() { return ReadFileBytes(path_); }

    std::string saved_, dir_, path_;
};

// The platform runtime's own formatting, called in msvcrt.dll itself.
std::string RuntimeFormat(const char *format, ...)
{
    typedef int(__cdecl * VsnprintfFn)(char *, size_t, const char *, va_list);
    HMODULE crt = GetModuleHandleA("msvcrt.dll");
    VsnprintfFn format_ = crt ? (VsnprintfFn)(void (*)(void))GetProcAddress(crt, "_vsnprintf") : nullptr;
    if (!format_)
        return "<no msvcrt>";
    // A text the runtime cannot convert ("%S" with Japanese in its "C"
    // locale) ends the output there: -1, and what was written before it.
    char text[512];
    memset(text, 0, sizeof(text));
    va_list args;
    va_start(args, format);
    int n = format_(text, sizeof(text) - 1, format, args);
    va_end(args);
    return n < 0 ? std::string(text) : std::string(text, (size_t)n);
}

template <typename... Args>
void TraceAndRuntime(std::string *expected, const char *format, Args... args)
{
    TracePrintf(format, args...);
    for (char c : RuntimeFormat(format, args...))
        *expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
}

TEST_F(TraceLogTest, RuntimeDialectAndLineEnds)
{
    TracePrintf("\t\t\t dwNecessarySpace = %I64d, dwFreeSpace = %I64d\n", 5000000000LL, -1LL);
    TracePrintf("nSrc = %lld\n", 4294967296LL);
    TracePrintf("[%S]\n", L"wide");
    TracePrintf("[%p]\n", (void *)0x1234);
    const char *volatile none = nullptr;
    TracePrintf("param\t\t= %s\n", none);
    TracePrintf("\t\n\t\tGetFileTime().\n");
    EXPECT_EQ(Log(), "\t\t\t dwNecessarySpace = 5000000000, dwFreeSpace = -1\r\n"
                     "nSrc = 4294967296\r\n"
                     "[wide]\r\n"
                     "[00001234]\r\n"
                     "param\t\t= (null)\r\n"
                     "\t\r\n\t\tGetFileTime().\r\n");

    // Every dialect the trace's formats use, as the runtime itself prints
    // them: handles in eight upper-case digits, 64-bit numbers both ways, a
    // wide text (Japanese converted as the runtime does), two-digit fields.
    WriteFileBytes(path_, "");
    std::string expected;
    TraceAndRuntime(&expected, "\t\t\tFailed. [%p]\n", (void *)INVALID_HANDLE_VALUE);
    TraceAndRuntime(&expected, "succeeded. [%p]\n", (void *)0x8c);
    TraceAndRuntime(&expected, "dwNecessarySpace = %I64d, dwFreeSpace = %I64d\n", 5000000000LL, -5000000000LL);
    TraceAndRuntime(&expected, "nSize = %lld\n", 4294967297LL);
    TraceAndRuntime(&expected, "[%S]\n", L"ルミテル");
    TraceAndRuntime(&expected, "[%S]\n", L"C:\\Lumi");
    TraceAndRuntime(&expected, "%d/%02u/%02d-%02u\n", 2024, 3u, 5, 7u);
    EXPECT_EQ(Log(), expected);
    EXPECT_NE(expected.find("[FFFFFFFF]\r\nsucceeded. [0000008C]\r\n"), std::string::npos) << expected;
}

TEST_F(TraceLogTest, TwoCallsMakeOneLineAndAppend)
{
    TracePrintf("\tGetShellWindow() ");
    TracePrintf("failed.\n");
    TracePrintf("next\n");
    EXPECT_EQ(Log(), "\tGetShellWindow() failed.\r\nnext\r\n");
}

TEST_F(TraceLogTest, OffOrMissingFileWritesNothing)
{
    DeleteFileA(path_.c_str());
    TracePrintf("lost\n");
    EXPECT_FALSE(FileExists(path_)) << "the log must never be recreated during a run";
    szLogPath[0] = '\0';
    TracePrintf("lost\n");
    EXPECT_FALSE(FileExists(path_));
}

TEST_F(TraceLogTest, HeldFileLosesTheTextOnly)
{
    HANDLE held = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    TracePrintf("lost\n");
    CloseHandle(held);
    TracePrintf("kept\n");
    EXPECT_EQ(Log(), "kept\r\n");
}

TEST(GetLastErrorText, SystemTextOrALoggableFallback)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    char *text = GetLastErrorText();
    ASSERT_NE(text, nullptr);
    std::string known = text;
    EXPECT_EQ(LocalFree(text), nullptr);
    EXPECT_GT(known.size(), 2u);
    EXPECT_EQ(known.substr(known.size() - 2), "\r\n");

    SetLastError(0x2FFFFFFF);  // no system text for this code
    text = GetLastErrorText();
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Error 805306367 (0x2FFFFFFF).\r\n");
    EXPECT_EQ(LocalFree(text), nullptr);
}

} // namespace

namespace {

TEST_F(TraceLogTest, PlantedHardLinkIsNeverWritten)
{
    std::string victim = dir_ + "victim.txt";
    ASSERT_TRUE(WriteFileBytes(victim, "precious\r\n"));
    DeleteFileA(path_.c_str());
    ASSERT_TRUE(CreateHardLinkA(path_.c_str(), victim.c_str(), nullptr));
    TracePrintf("appended\n");
    EXPECT_EQ(ReadFileBytes(victim), "precious\r\n");
    EXPECT_EQ(szLogPath[0], '\0') << "logging must stop for the run";
    DeleteFileA(path_.c_str());

    // A symbolic link made beforehand and moved, as another user's program
    // would, onto the name of a log that passed: the name is held for the
    // run, so the move is refused and the lines go on into the log.
    StrCopy(szLogPath, sizeof(szLogPath), path_.c_str());
    ASSERT_TRUE(WriteFileBytes(path_, ""));
    TracePrintf("first\n");
    EXPECT_EQ(Log(), "first\r\n");
    std::string planted = dir_ + "planted.log";
    UnixLink link(planted, victim);
    ASSERT_TRUE(link.Planted());
    ASSERT_EQ(ReadFileBytes(planted), "precious\r\n") << "the link must lead to the victim";
    EXPECT_FALSE(MoveFileExA(planted.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(DeleteFileA(path_.c_str()));
    TracePrintf("second\n");
    EXPECT_EQ(ReadFileBytes(victim), "precious\r\n");
    EXPECT_EQ(Log(), "first\r\nsecond\r\n");
}

// The previous log is kept once before the new run empties it (an empty one
// keeps the older copy), and a link planted in the copy's place is left alone.
TEST_F(TraceLogTest, StartKeepsThePreviousLogOnceAndGuardsTheCopy)
{
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof(temp), temp), 0u);
    std::string log = std::string(temp) + "Lumiupd.log", kept = std::string(temp) + "Lumiupd.1.log";
    DeleteFileA(kept.c_str());
    ASSERT_TRUE(WriteFileBytes(log, "first run\r\n"));
    TraceLogStart();
    EXPECT_EQ(ReadFileBytes(kept), "first run\r\n");
    TracePrintf("second run\n");
    TraceLogStart();
    EXPECT_EQ(ReadFileBytes(kept), "second run\r\n");
    TraceLogStart();
    EXPECT_EQ(ReadFileBytes(kept), "second run\r\n");
    EXPECT_EQ(ReadFileBytes(log), "");

    std::string victim = dir_ + "victim.txt";
    ASSERT_TRUE(WriteFileBytes(victim, "precious\r\n"));
    DeleteFileA(kept.c_str());
    ASSERT_TRUE(CreateHardLinkA(kept.c_str(), victim.c_str(), nullptr));
    TracePrintf("third run\n");
    TraceLogStart();
    EXPECT_EQ(ReadFileBytes(victim), "precious\r\n");
    EXPECT_EQ(ReadFileBytes(log), "");
    EXPECT_NE(szLogPath[0], '\0') << "the log itself goes on";
    DeleteFileA(kept.c_str());

    // The same with symbolic links, which Wine shows as plain files: one in
    // the copy's place, then one in the log's place, which is neither kept,
    // emptied nor written.
    {
        UnixLink link(kept, victim);
        ASSERT_TRUE(link.Planted());
        ASSERT_EQ(ReadFileBytes(kept), "precious\r\n") << "the link must lead to the victim";
        TracePrintf("fourth run\n");
        TraceLogStart();
        EXPECT_EQ(ReadFileBytes(victim), "precious\r\n");
        EXPECT_EQ(ReadFileBytes(log), "");
        EXPECT_NE(szLogPath[0], '\0') << "the log itself goes on";
    }
    ASSERT_FALSE(FileExists(kept));

    ASSERT_TRUE(WriteFileBytes(victim, "precious\r\n"));
    TraceLogStop();  // the run before has ended
    UnixLink link(log, victim);
    ASSERT_TRUE(link.Planted());
    ASSERT_EQ(ReadFileBytes(log), "precious\r\n") << "the link must lead to the victim";
    TraceLogStart();
    TracePrintf("fifth run\n");
    EXPECT_EQ(ReadFileBytes(victim), "precious\r\n");
    EXPECT_FALSE(FileExists(kept)) << "the victim must not be kept as the previous log";
    EXPECT_EQ(szLogPath[0], '\0') << "logging must stop for the run";
    DeleteFileA(kept.c_str());
}

} // namespace
