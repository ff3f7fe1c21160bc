// Reading real script files written by the tests.
#pragma once

#include "script/script.h"

#include <string>
#include <vector>

// An UpdateScript set up empty, read from a file holding bytes, freed at the end.
struct ScriptFixture {
    UpdateScript script;
    int result = -1;

    ScriptFixture();
    ~ScriptFixture();
    ScriptFixture(const ScriptFixture &) = delete;
    ScriptFixture &operator=(const ScriptFixture &) = delete;
    // Writes bytes to a fresh .INF file and reads it with the parser.
    int Read(const std::string &bytes);
    std::vector<std::string> Targets() const;
    std::vector<const FileEntry *> Commands() const;
};

// The expected expansion of a macro: the shell folder (CSIDL) or the Program
// Files folder (csidl < 0), a backslash and rest.
std::string ExpectedExpansion(int csidl, const std::string &rest);
