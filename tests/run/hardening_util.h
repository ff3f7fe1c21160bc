// Helpers of the hardening tests: runs of the updater from a chosen current
// folder and search path, the state of a folder tree, and the markers that
// planted DLLs leave.
#pragma once

#include "testutil.h"

#include <map>
#include <string>
#include <vector>

// Where a program is started from: its current folder and folders put in
// front of PATH (both empty: as the test itself runs).
struct StartPlace {
    std::string currentFolder;
    std::string pathFront;
};

// RunProgram started from place.
RunResult RunProgramFrom(const std::string &exe, const std::string &args, const RunOptions &options,
                         const StartPlace &place);

// Every file and folder under folder (relative path, folders ending in "\")
// with a digest of its bytes and its read-only attribute.
using TreeState = std::map<std::string, std::string>;
TreeState ReadTree(const std::string &folder);
// The entries of after that differ from before (changed, added or gone), by
// relative path.
std::vector<std::string> TreeChanges(const TreeState &before, const TreeState &after);

// The markers folder of tests/fixtures/planted.cpp, emptied.
void ClearMarkers();
// The markers left since, as "<dll>@<program>" with the DLL's path.
std::map<std::string, std::string> Markers();
// Copies the planted DLL into folder under each of the names.
bool PlantDlls(const std::string &folder, const std::vector<std::string> &names);

// The message boxes' texts of a run, one per line, for failure output.
std::string BoxTexts(const RunResult &r);
// Whether the run showed a dialog that is no message box with this caption.
bool ShowedDialog(const RunResult &r, const std::string &caption);
