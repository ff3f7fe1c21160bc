// The script checker: reads a script with the updater's own reader and
// parser, reports what the updater would refuse, ignore or change, checks the
// commands against an update folder, and sums up what the script will do.
#pragma once

#include "findings.h"
#include "scripttext.h"

#include "script/parser.h"

#include <stddef.h>
#include <stdio.h>

enum CheckExit { CHECK_ACCEPTED = 0, CHECK_REFUSED = 1, CHECK_UNREADABLE = 2 };

enum { SETTING_KEYS = 7 };

struct ScriptChecker {
    FindingLog log;
    UpdateScript script;
    const char *scriptPath;
    const char *updateFolder;  // ends with a backslash; null without one
    PtrList *usedFiles;        // names the commands take from the update folder (normalized, owned)
    PtrList *commandLines;     // the line of each stored command, in order (as pointers)
    // Where the reading stands: the physical line the next piece belongs to,
    // how many bytes of it came before, and what was found on it so far.
    long line;
    size_t lineOffset;
    Cp932Scan cp932;
    int cp932Reported;
    int zeroReported;
    long firstRejectedLine;    // 0 while no line was rejected
    long settingLines[SETTING_KEYS];
    // The whole script is UTF-8 text: said once, not on every line.
    int utf8Script;
    // The line that copies the data version file, and whether a command
    // after it has been told about (once is enough).
    long dataVersionLine;
    int dataVersionTold;
    // What the walk of the update folder found, for the summary.
    int folderFiles;
    unsigned long long folderBytes;
};

// Checks the script at scriptPath (and the update folder, when not null),
// writing the findings and the summary to out. Returns a CheckExit, the
// updater's verdict; when strict, any finding makes it CHECK_REFUSED.
int RunScriptCheck(const char *scriptPath, const char *updateFolder, FILE *out, int strict);

// Appends to names (heap strings) the files the script's commands take from
// updateFolder, normalized as the checker compares them; reads the script
// without writing findings. 0 when it cannot be opened or memory runs out.
int ListTakenFiles(const char *scriptPath, const char *updateFolder, PtrList *names);

// The command line of both checkers: [--strict] SCRIPT [UPDATE_FOLDER], or
// -h, --help, /? alone for the usage.
struct CheckArgs {
    const char *script;
    const char *folder;  // null without one
    int strict;
};
// -1 when args holds what to check; otherwise the usage has been printed
// (name: the checker's command name) and this is the exit code.
int ParseCheckArgs(int argc, char **argv, const char *name, CheckArgs *args);

// linecheck.cpp: the reader's sink (context: the ScriptChecker).
int CheckScriptLine(const char *raw, size_t rawLength, const ScriptLineReport *report, void *context);
// commandcheck.cpp: what a stored setting or command may still get wrong.
void CheckStoredSetting(ScriptChecker *checker, const ScriptLineReport *report, const char *value,
                        const char *text);
void CheckStoredCommand(ScriptChecker *checker, const ScriptLineReport *report, const char *value,
                        const char *text);
// mistakecheck.cpp: the usual mistakes of script authors.
void CheckValueBlanks(ScriptChecker *checker, const char *value, const char *text);
void CheckTargetSeparator(ScriptChecker *checker, const char *value, const char *text);
void CheckCommandPercents(ScriptChecker *checker, const FileEntry *entry, const char *value, const char *text);
void CheckCreateOrder(ScriptChecker *checker, const FileEntry *create, const char *text);
void CheckDataVersionOrder(ScriptChecker *checker, const FileEntry *entry, const char *text);
// leadingMacro: the value starts with a folder macro the updater expands.
void CheckLiteralMacros(ScriptChecker *checker, const char *value, int leadingMacro, const char *text);
// foldercheck.cpp: the update folder against the commands.
void CheckCommandFiles(ScriptChecker *checker, const FileEntry *entry, const char *text);
void CheckFolderFiles(ScriptChecker *checker);
// summary.cpp
void PrintSummary(ScriptChecker *checker);
