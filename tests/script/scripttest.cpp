#include "scripttest.h"

#include "script/parser.h"
#include "testutil.h"

#include <windows.h>
#include <shlobj.h>

ScriptFixture::ScriptFixture()
{
    InitUpdateScript(&script);
}

ScriptFixture::~ScriptFixture()
{
    FreeUpdateScript(&script);
}

int ScriptFixture::Read(const std::string &bytes)
{
    std::string path = MakeTestDir("script_parser") + "Lumiupd.INF";
    if (!WriteFileBytes(path, bytes))
        return -1;
    result = ReadScriptFile(path.c_str(), &script);
    return result;
}

std::vector<std::string> ScriptFixture::Targets() const
{
    std::vector<std::string> out;
    for (PtrNode *n = PtrListFirst(script.targets); n; n = n->next)
        out.push_back((const char *)n->data);
    return out;
}

std::vector<const FileEntry *> ScriptFixture::Commands() const
{
    std::vector<const FileEntry *> out;
    for (PtrNode *n = PtrListFirst(script.commands); n; n = n->next)
        out.push_back((const FileEntry *)n->data);
    return out;
}

std::string ExpectedExpansion(int csidl, const std::string &rest)
{
    char folder[MAX_PATH] = "";
    if (csidl >= 0) {
        if (!SHGetSpecialFolderPathA(nullptr, folder, csidl, FALSE))
            return "<no folder " + std::to_string(csidl) + ">";
    } else {
        DWORD size = sizeof(folder) - 1;
        if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                         RRF_RT_REG_SZ, nullptr, folder, &size) != ERROR_SUCCESS)
            return "<no Program Files>";
    }
    return std::string(folder) + "\\" + rest;
}
