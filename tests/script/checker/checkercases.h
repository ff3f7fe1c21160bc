// The scripts the checker tests write, each with the findings it must give.
// The agreement test runs every one of them through the updater as well.
#pragma once

#include "checkrun.h"

#include <string>
#include <vector>

struct CheckerCase {
    std::string name;
    std::string script;                  // the file's bytes (CP932, CR LF)
    int exitCode;                        // 0 accepted, 1 refused
    std::vector<std::string> findings;   // every finding of the script, in order (CheckRun::Findings)
};

const std::vector<CheckerCase> &CheckerCases();

// The scripts of the checker tests that look at more than the findings.
std::string SummaryScript();
std::string FolderScript();
std::string ScriptBesideAnotherFolder();
std::vector<std::string> ResultScripts();
// Every script the checker tests write: the cases and the ones above.
std::vector<std::pair<std::string, std::string>> AllCheckerScripts();

// The expansion of a shortcut path on the desktop as the parser makes it here.
std::string DesktopPath(const std::string &rest);
std::string StartMenuPath(const std::string &rest);
