// Which script entries are program modules, and which drive a folder is on.
#include "checks/checkrules.h"

#include <string>

#include <gtest/gtest.h>

namespace {

std::string Extension(const char *name)
{
    char ext[260];
    EXPECT_EQ(TakeExtension(name, ext, sizeof(ext)), 1) << name;
    return ext;
}

TEST(ModuleName, ModulesByExtensionOfTheLastComponent)
{
    for (const char *name : {"PROG.DLL", "bin\\prog.Exe", "bin/PROG.dll", "a.b\\c.dLl", "x.dll.exe",
                             "ソ.dll", "ソ\\ソ.EXE"})
        EXPECT_EQ(IsModuleName(name), 1) << name;
    for (const char *name : {"prog.dll.bak", "prog.ocx", "prog", "bin.exe\\prog", "bin.dll/prog",
                             "prog.dl", "prog.dlls", "", ".exe\\", "dll", "progdll", "prog.d ll"})
        EXPECT_EQ(IsModuleName(name), 0) << name;
}

TEST(ModuleName, ExtensionStartsAtTheLastDotOfTheLastComponent)
{
    EXPECT_EQ(Extension("bin\\prog.tar.gz"), ".gz");
    EXPECT_EQ(Extension("bin.d/prog"), "");
    EXPECT_EQ(Extension("a.x/b.y\\c.z"), ".z");
    EXPECT_EQ(Extension("a.x\\b.y/c"), "");
    EXPECT_EQ(Extension(".hidden"), ".hidden");
    EXPECT_EQ(Extension("dir.\\"), "");
    // ソ ends in the byte of a backslash: it separates nothing.
    EXPECT_EQ(Extension("a.bソc"), ".bソc");
    EXPECT_EQ(Extension("a.dllソ"), ".dllソ");
}

TEST(ModuleName, ExtensionLongerThanItsBufferIsRefusedNotCut)
{
    std::string name = "prog." + std::string(300, 'x');
    char ext[260] = "junk";
    EXPECT_EQ(TakeExtension(name.c_str(), ext, sizeof(ext)), 0);
    EXPECT_STREQ(ext, "");
    EXPECT_EQ(IsModuleName(name.c_str()), 0);
    char small[5];
    EXPECT_EQ(TakeExtension("x.dll", small, sizeof(small)), 1);
    EXPECT_STREQ(small, ".dll");
    EXPECT_EQ(TakeExtension("x.dlls", small, sizeof(small)), 0);
}

TEST(DriveIndex, LettersAndEverythingElse)
{
    EXPECT_EQ(DriveIndexOf("c:\\app\\"), 2);
    EXPECT_EQ(DriveIndexOf("C:\\app\\"), 2);
    EXPECT_EQ(DriveIndexOf("a:\\"), 0);
    EXPECT_EQ(DriveIndexOf("Z:\\"), 25);
    EXPECT_EQ(DriveIndexOf("z:\\"), 25);
    for (const char *folder : {"\\\\server\\share\\", "1:\\", "ソ\\", "@:\\", "[:\\", "`:\\", "{:\\", ""})
        EXPECT_GT(DriveIndexOf(folder), 25) << folder;
}

} // namespace
