// How the executor builds each command's source and destination paths.
#include "exec/update.h"

#include "exec_testutil.h"
#include "progressread.h"
#include "testlists.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

std::string ShortPath(const std::string &path)
{
    char buf[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof(buf));
    return n && n < sizeof(buf) ? buf : "";
}

// The Copy handler traces the two paths it was given.
std::vector<std::pair<std::string, std::string>> CopiedPaths()
{
    std::vector<std::pair<std::string, std::string>> paths;
    std::vector<std::string> lines = TraceLines();
    for (size_t i = 0; i + 2 < lines.size(); i++)
        if (lines[i] == "\t\t[Copy]>>")
            paths.push_back({lines[i + 1].substr(9), lines[i + 2].substr(9)});
    return paths;
}

TEST(UpdatePaths, PlaceholderRelativeAndAbsoluteNames)
{
    std::string src = MakeTestDir("update_paths_src");
    std::string dst = MakeTestDir("update_paths_dst") + "Program Files App\\";
    ASSERT_TRUE(CreateDirectoryA(dst.c_str(), nullptr));
    std::string shortDst = ShortPath(dst);
    ASSERT_FALSE(shortDst.empty());
    ASSERT_NE(shortDst, dst) << "the test needs a folder whose short path differs";
    ASSERT_TRUE(WriteFileBytes(dst + "setup.txt", "from the destination"));
    ASSERT_TRUE(CreateDirectoryA((src + "data").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(src + "data\\new.dat", "data"));
    ASSERT_TRUE(WriteFileBytes(src + "x.txt", "x"));
    ASSERT_TRUE(CreateDirectoryA((dst + "data").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((dst + "sub").c_str(), nullptr));

    StringList dsts({dst});
    CommandList commands;
    commands.Add("%DSTPATH%setup.txt", 1);
    commands.Add("data\\new.dat", 1);
    commands.Add("sub\\..\\x.txt", 1);
    StartTrace();
    BoxAnswerer noQuestions({});
    EXPECT_EQ(Update(nullptr, src.c_str(), dsts.get(), commands.get(), nullptr, 2), 1);
    auto paths = CopiedPaths();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_TRUE(noQuestions.Boxes().empty());
    // The placeholder makes the source absolute; the destination keeps the
    // name as written.
    EXPECT_EQ(paths[0].first, shortDst + "setup.txt");
    EXPECT_EQ(paths[0].second, dst + "%DSTPATH%setup.txt");
    EXPECT_EQ(ReadFileBytes(dst + "%DSTPATH%setup.txt"), "from the destination");
    EXPECT_EQ(paths[1].first, src + "data\\new.dat");
    EXPECT_EQ(paths[1].second, dst + "data\\new.dat");
    // Dot segments of the source are resolved; the destination is a plain join.
    EXPECT_EQ(paths[2].first, src + "x.txt");
    EXPECT_EQ(paths[2].second, dst + "sub\\..\\x.txt");
}

// Nested folders of eight-letter names are their own short path, so the
// inserted text is as long as the folder.
std::string LongShortFolder(const std::string &name, size_t minLength)
{
    std::string folder = MakeTestDir(name);
    while (folder.size() < minLength)
        folder += "abcdefgh\\";
    std::string made;
    for (size_t at = 0; (at = folder.find('\\', at)) != std::string::npos; at++)
        CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
    return folder;
}

TEST(UpdatePaths, TextsThatOutgrowTheirBuffersFailTheCommand)
{
    std::string dst = LongShortFolder("updlong", 200);
    ASSERT_EQ(ShortPath(dst), dst);
    std::string src = MakeTestDir("update_paths_src");

    // Two placeholders fit in 520 bytes, three do not.
    StringList dsts({dst, dst, dst});
    CommandList commands;
    commands.Add("%DSTPATH%%DSTPATH%two", 1);
    StartTrace();
    BoxAnswerer noQuestions({});
    EXPECT_EQ(Update(nullptr, src.c_str(), dsts.get(), commands.get(), nullptr, 2), 0);
    auto paths = CopiedPaths();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0].first, dst + dst + "two");

    CommandList three;
    three.Add("%DSTPATH%%DSTPATH%%DSTPATH%three", 1);
    StringList again({dst});
    StartTrace();
    EXPECT_EQ(Update(nullptr, src.c_str(), again.get(), three.get(), nullptr, 2), 0);
    std::vector<std::string> lines = TraceLines();
    EXPECT_EQ(CountLines(lines, "\t\t[Copy]>>"), 0u);
    EXPECT_EQ(CountLines(lines, "\t\tpath too long - %DSTPATH%%DSTPATH%%DSTPATH%three"), 1u);

    // A relative name that would take the source path past 259 bytes, in a
    // command that uses the source.
    std::string longSrc = LongShortFolder("updlsrc", 240);
    std::string name = std::string(30, 'r') + ".txt";
    CommandList relative;
    relative.Add(name, 1);
    StringList one({dst});
    StartTrace();
    EXPECT_EQ(Update(nullptr, longSrc.c_str(), one.get(), relative.get(), nullptr, 2), 0);
    lines = TraceLines();
    EXPECT_EQ(CountLines(lines, "\t\t[Copy]>>"), 0u);
    EXPECT_EQ(CountLines(lines, "\t\tpath too long - " + name), 1u);
}

// The same overlong source path where the command never uses it (create,
// log, remove): the command runs, and the path is only shown, cut.
TEST(UpdatePaths, APathTheCommandDoesNotUseNeverFailsIt)
{
    std::string longSrc = LongShortFolder("updlsrc", 240);
    std::string dst = MakeTestDir("update_unused_dst");
    std::string folder = std::string(30, 'f');
    std::string comment = std::string(100, 'c') + "/" + std::string(99, 'd');
    std::string gone = std::string(30, 'g') + ".txt";
    ASSERT_GT((longSrc + folder).size(), 259u);
    StringList dsts({dst});
    CommandList commands;
    commands.Add(folder, 7);
    commands.Add(comment, 6);
    commands.Add(gone, 2);
    HMODULE resources = LoadLibraryExA((BinDir() + "Lumiupd.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(resources, nullptr);
    ProgressReading seen;
    // The file to remove is missing: asked about, and ignored.
    BoxAnswerer boxes({{IDIGNORE, [&](HWND) { seen = ReadProgress(FindProgressDialog(GetCurrentProcessId())); }}});
    StartTrace();
    EXPECT_EQ(Update(resources, longSrc.c_str(), dsts.get(), commands.get(), "U1", 0), 1);
    FreeLibrary(resources);
    EXPECT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(ListFolder(dst), (std::vector<std::string>{"MIRO42.INI", folder, "update.log"}));
    EXPECT_NE(ReadFileBytes(dst + "update.log").find("\tU1\t" + std::string(100, 'c') + "\t"), std::string::npos);
    EXPECT_EQ(seen.source, (longSrc + gone).substr(0, 259));
    EXPECT_EQ(seen.destination, dst + gone);
    EXPECT_FALSE(HasLineStartingWith(TraceLines(), "\t\tpath too long - "));
}

TEST(ReplaceDstPathOnDisk, TheFoldersShortPathOrTheFolderAsGiven)
{
    std::string dst = MakeTestDir("update_paths_dst") + "Long Folder Name\\";
    ASSERT_TRUE(CreateDirectoryA(dst.c_str(), nullptr));
    char text[EXEC_TEXT_BUFFER] = "\"%DSTPATH%run.exe\" /in %DSTPATH%";
    ASSERT_EQ(ReplaceDstPath(text, sizeof(text), dst.c_str()), 1);
    std::string shortDst = ShortPath(dst);
    EXPECT_EQ(std::string(text), "\"" + shortDst + "run.exe\" /in " + shortDst);
    // A folder without a short form (it is gone) is inserted as given.
    std::string gone = dst + "gone\\";
    char other[EXEC_TEXT_BUFFER] = "%DSTPATH%x";
    ASSERT_EQ(ReplaceDstPath(other, sizeof(other), gone.c_str()), 1);
    EXPECT_EQ(std::string(other), gone + "x");
}

} // namespace
