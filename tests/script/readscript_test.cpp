// ReadUpdateScript finds the script by a real module's own path.
#include "script/readscript.h"
#include "testutil.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

// Loads a copy of the fixture DLL as path; freed at the end.
struct LoadedCopy {
    HMODULE module = nullptr;
    explicit LoadedCopy(const std::string &path, const std::string &loadAs)
    {
        if (CopyFileA((BinDir() + "MIRO42_fixture.dll").c_str(), path.c_str(), FALSE))
            module = LoadLibraryA(loadAs.c_str());
    }
    ~LoadedCopy()
    {
        if (module)
            FreeLibrary(module);
    }
};

std::string ReadId(HMODULE module, int *result)
{
    UpdateScript script;
    InitUpdateScript(&script);
    *result = ReadUpdateScript(module, &script);
    std::string id = script.id ? script.id : "<null>";
    FreeUpdateScript(&script);
    return id;
}

TEST(ReadUpdateScript, ScriptBesideTheModuleWithItsBaseName)
{
    std::string dir = MakeTestDir("script_module");
    ASSERT_TRUE(WriteFileBytes(dir + "plugin.INF", "id=beside\r\n"));
    ASSERT_TRUE(WriteFileBytes(dir + "plugin.dll.INF", "id=wrong\r\n"));
    LoadedCopy copy(dir + "plugin.dll", dir + "plugin.dll");
    ASSERT_NE(copy.module, nullptr);
    int result = 0;
    EXPECT_EQ(ReadId(copy.module, &result), "beside");
    EXPECT_EQ(result, 1);

    DeleteFileA((dir + "plugin.INF").c_str());
    EXPECT_EQ(ReadId(copy.module, &result), "<null>");
    EXPECT_EQ(result, 0);
}

TEST(ReadUpdateScript, ModuleWithoutExtensionCutsAtTheFoldersDot)
{
    MakeTestDir("script_mod");
    std::string dir = MakeTestDir("script_mod.d");
    ASSERT_TRUE(WriteFileBytes("C:\\lumitest\\script_mod.INF", "id=folder-dot\r\n"));
    // A trailing "." asks the loader for a name without extension.
    LoadedCopy copy(dir + "plugin", dir + "plugin.");
    ASSERT_NE(copy.module, nullptr);
    char name[MAX_PATH] = "";
    GetModuleFileNameA(copy.module, name, MAX_PATH);
    ASSERT_STREQ(name, (dir + "plugin").c_str());
    int result = 0;
    EXPECT_EQ(ReadId(copy.module, &result), "folder-dot");
    EXPECT_EQ(result, 1);
    DeleteFileA("C:\\lumitest\\script_mod.INF");
}

} // namespace
