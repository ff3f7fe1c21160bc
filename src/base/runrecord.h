// What a run did, gathered as it goes for the result file a deployment tool
// collects (-result=PATH): each folder the version gate judged, each
// command's outcome there, each box and its answer, and what explains the
// exit code. Nothing is gathered unless RunRecordStart was called, so a run
// without the option does exactly what it did before. A dry run records its
// predictions the same way.
#pragma once

#include "base/ptrlist.h"

// OUTCOME_UNKNOWN only in a dry run: known by running the command alone.
enum { OUTCOME_DONE = 0, OUTCOME_FAILED = 1, OUTCOME_IGNORED = 2, OUTCOME_UNKNOWN = 3 };

struct RecordedCommand {
    int outcome;
    unsigned long error;  // the system's error code; 0 when there was none
    char *path;           // the file at fault of a failed or ignored command, or null
};

struct RecordedFolder {
    char *folder;
    char version[12];  // the data version as read (8 bytes at most)
    int versionRead;
    int accepted;
    PtrList *commands;  // RecordedCommand, in script order; null when none ran
    int restored;       // an all-or-nothing update failed there and was undone
};

struct RecordedBox {
    char *caption;  // null: the system's default caption
    char *text;
    unsigned int type;
    int answer;
};

// What explains a refusal before the commands: the held module (5) and who
// holds it, the short drive (7), the rejected script line (2). Each part is
// set by the step that meets it, the first time only. Texts are heap copies
// (null when not met): the record costs a run without it nothing.
struct RecordedCause {
    char *held;                // the module
    unsigned long holderId;    // its holder's process id, 0 when unknown
    char *holder;              // the holder's program
    char *shortOf;             // the destination without room
    long long needed, freeBytes;
    long scriptLine;           // the rejected line (from 1), 0 when none
    char *lineText;            // that line as read
};

struct RunRecord {
    int on;
    PtrList *folders;  // RecordedFolder, in the order they were judged
    PtrList *boxes;    // RecordedBox, in the order they were answered
    RecordedFolder *current;
    unsigned long error;  // noted for the command under way
    char *path;           // the file at fault noted for it (heap), or null
    RecordedCause cause;
};

const RunRecord *GetRunRecord(void);
void RunRecordStart(void);
void RunRecordFree(void);

// The gate's verdict on folder; version is null when no data file was read.
// A folder judged again keeps one entry, with the latest verdict.
void RecordGate(const char *folder, const char *version, int accepted);
// The executor starts on folder: the commands that follow are its.
void RecordFolderStart(const char *folder);
// A system error a command met and did not get past (a retried one is
// noted as 0 again); the command's outcome takes the last one noted.
void RecordError(unsigned long error);
// The file at fault for the command under way, when none is noted yet: the
// handler notes the one it knows (a copy's source it cannot read), the
// executor then the command's own.
void RecordFaultPath(const char *path);
// The command under way ended: ok is its handler's result.
void RecordCommand(int ok);
// The folder under way had every change of its all-or-nothing update undone.
void RecordRestored(void);
// A dry run's prediction for the command under way (OUTCOME_*).
void RecordPrediction(int outcome);
void RecordHeld(const char *module, unsigned long holderId, const char *holder);
void RecordNoSpace(const char *folder, long long needed, long long freeBytes);
void RecordScriptLine(long line, const char *text);
void RecordBox(const char *caption, const char *text, unsigned int type, int answer);
