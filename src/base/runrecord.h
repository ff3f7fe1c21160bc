// What a run did, gathered as it goes for the result file a deployment tool
// collects (-result=PATH): each folder the version gate judged, each
// command's outcome there, each box and its answer. Nothing is gathered
// unless RunRecordStart was called, so a run without the option does exactly
// what it did before.
#pragma once

#include "base/ptrlist.h"

enum { OUTCOME_DONE = 0, OUTCOME_FAILED = 1, OUTCOME_IGNORED = 2 };

struct RecordedCommand {
    int outcome;
    unsigned long error;  // the system's error code; 0 when there was none
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

struct RunRecord {
    int on;
    PtrList *folders;  // RecordedFolder, in the order they were judged
    PtrList *boxes;    // RecordedBox, in the order they were answered
    RecordedFolder *current;
    unsigned long error;  // noted for the command under way
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
// The command under way ended: ok is its handler's result.
void RecordCommand(int ok);
// The folder under way had every change of its all-or-nothing update undone.
void RecordRestored(void);
void RecordBox(const char *caption, const char *text, unsigned int type, int answer);
