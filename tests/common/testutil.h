// Helpers for tests that run under Wine: folders, files, running the updater.
#pragma once

#include "robot.h"

#include <string>
#include <vector>

// The folder of the running test executable (the build's bin folder), with "\".
std::string BinDir();
// A fresh, empty folder C:\lumitest\NAME\ (removed first when present).
std::string MakeTestDir(const std::string &name);
void RemoveTree(const std::string &path);
bool WriteFileBytes(const std::string &path, const std::string &bytes);
std::string ReadFileBytes(const std::string &path);
// The Unix path Wine gives a Windows path ("" when none).
std::string UnixPath(const std::string &path);
// A Unix symbolic link, which Wine shows as a plain file: what stands for a
// Windows link in a test. Replaces whatever is at link (a Windows path) by a
// link to target (an existing file) and removes it again on leaving the
// scope, also after a failed assertion: DeleteFileA would delete the target
// and leave the link.
class UnixLink {
public:
    UnixLink(const std::string &link, const std::string &target);
    ~UnixLink();
    UnixLink(const UnixLink &) = delete;
    UnixLink &operator=(const UnixLink &) = delete;
    bool Planted() const { return planted_; }

private:
    std::string link_, unixLink_;
    bool planted_ = false;
};
bool FileExists(const std::string &path);
// Joins lines with CR LF (each line, the last one included, ends in CR LF).
std::string CrLf(const std::vector<std::string> &lines);

// An update folder: a copy of the built updater as Lumiupd.exe and its script.
std::string MakeUpdateFolder(const std::string &name, const std::string &script);
// A file named name that a program of a checked package left beside its
// verified copy (in the folder the updater made below the system's Temp
// folder), written after since; empty when there is none.
std::string StagedFile(const std::string &name, FILETIME since);

struct RunResult {
    DWORD exitCode = 0;
    bool timedOut = false;
    std::vector<DialogRecord> dialogs;    // every dialog, in order of appearance
    std::vector<DialogRecord> boxes;      // message boxes only
};

struct RunOptions {
    std::vector<RobotAnswer> answers;
    DWORD timeoutMs = 60000;
    DialogRobot::OtherDialogHandler otherDialogs;
    DialogRobot::BeforeAnswerHandler beforeAnswer;
};

// Starts exe with args, answers its boxes, waits (killing it on time-out).
RunResult RunProgram(const std::string &exe, const std::string &args, const RunOptions &options);

// The system's text for an error code, as the updater shows and logs it.
std::string SystemText(DWORD code);
// An ANSI text as a result file writes it: a JSON string in UTF-8, quoted.
std::string JsonQuoted(const std::string &ansi);
// A result file's text with its time taken written as "N" (the time in *ms).
std::string ResultTimeAsN(std::string text, unsigned long *ms);

// The trace log of the last run and its lines (split at CR LF).
std::string TraceLogPath();
std::vector<std::string> TraceLines();
