// The acceptance suite's view of one run of the real updater: what the user
// saw (boxes, the progress dialog, in order), how it ended, and the project's
// example scripts that the runs use.
#pragma once

#include "progressread.h"
#include "testutil.h"

#include <string>
#include <vector>

// A file of the source tree as the updater under Wine sees it (drive Z:).
std::string SourceFile(const std::string &relative);
// The bytes of an example script of docs/examples.
std::string ExampleScript(const std::string &name);

// An update folder holding the example typical.INF and its two new files,
// each with a last-write time of its own.
std::string MakeTypicalUpdate(const std::string &name);
// typical.INF carried out in app: both files are the update's, created and
// last written at the source's last-write time; ids is the installed list.
void ExpectTypicalUpdate(const std::string &app, const std::string &upd, const std::string &ids);

// The folder "ProgramFilesDir" names for this (32-bit) process, no backslash.
std::string ProgramFilesDir();
// A folder's short form, as %DSTPATH% puts it.
std::string ShortPath(const std::string &path);

// What the progress dialog showed while it was open.
struct ProgressView {
    bool seen = false;
    std::string caption;
    // Each new pair of path labels, in order; the blank pair of a freshly
    // opened dialog is left out.
    std::vector<std::pair<std::string, std::string>> paths;
    // Readings of the bar, taken whenever the updater served them (it pumps
    // messages only while copying or asking).
    std::vector<ProgressReading> bars;
};

struct UpdaterRun {
    DWORD exitCode = 0;
    bool timedOut = false;
    DWORD elapsedMs = 0;
    std::vector<DialogRecord> boxes;
    // "progress" when the progress dialog opened, "box" for each message box,
    // in the order the user met them.
    std::vector<std::string> events;
    // For each box, the progress dialog under it, read while the box held the
    // updater (an empty caption when the dialog was not open).
    std::vector<ProgressReading> progressAtBox;
    ProgressView progress;
};

// Runs folder\Lumiupd.exe with args, answering its boxes in order.
UpdaterRun RunUpdater(const std::string &folder, const std::string &args, std::vector<RobotAnswer> answers,
                      const std::string &exe = "Lumiupd.exe");

// The run's one closing box: text under "終了", OK only, the information
// icon for 0 and the warning icon for every other code.
void ExpectClosingBox(const DialogRecord &box, const std::string &text, int code);
// A reading of the progress dialog: its caption, the command's two paths,
// done steps of 0 to steps.
void ExpectProgress(const ProgressReading &r, const std::string &src, const std::string &dst, int done, int steps);
// The script's question: text under "確認", Yes and No, the question icon.
void ExpectQuestion(const DialogRecord &box, const std::string &text);
// A run answered No: exit code -1, the question its only box, no progress.
void ExpectDeclined(const UpdaterRun &r, const std::string &question);
// A run answered Yes that ended well: the question, then text under "終了".
void ExpectSucceeded(const UpdaterRun &r, const std::string &question, const std::string &text);

// The trace of one copy command from src to dst, whose source was last
// written at lastWrite ("2024/03/01-09:30:15"); replacing tells whether an
// old file was there to delete.
std::vector<std::string> CopyTrace(const std::string &src, const std::string &dst, const std::string &lastWrite,
                                   bool replacing);
void Append(std::vector<std::string> *lines, const std::vector<std::string> &more);

// Lines against the expected ones, where "{*}" in an expected
// line stands for any text; names the first line that differs.
void ExpectLines(const std::vector<std::string> &lines, const std::vector<std::string> &expected);
void ExpectTrace(const std::vector<std::string> &expected);
// After a failed test: keeps the run's trace log under the build's artifacts
// folder, named after the test, for a person to read.
void KeepTraceIfFailed();
bool TraceLineMatches(const std::string &pattern, const std::string &line);
bool TraceHas(const std::string &line);
bool TraceMentions(const std::string &text);
// The trace's lines from the first one equal to from up to and including the
// first one equal to to after it (empty when either is missing).
std::vector<std::string> TraceBetween(const std::string &from, const std::string &to);

// What a run may change, taken whole: under each folder every file and
// folder (path, attributes, creation and last-write times, size, bytes), and
// every key and value under HKEY_LOCAL_MACHINE\Software\Kevrani.
std::string MachineSnapshot(const std::vector<std::string> &folders);
// A dry run's report (UTF-8 with its byte-order mark) as lines in the ANSI
// code page, without their CR LF; empty when it is missing or not so.
std::vector<std::string> ReportLines(const std::string &path);
// A file's last-write time in local time as the report gives it.
std::string ReportTime(const std::string &path);
// The "outcome" of every command in a result file, in order.
std::vector<std::string> ResultOutcomes(const std::string &path);
