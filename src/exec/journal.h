// The journal of an all-or-nothing update: a file in the destination folder
// that lists, before anything there changes, every change about to be made,
// so that whatever cuts a run short, the next run can undo them all, or, once
// the journal says the update is complete, clear what it kept for the undo.
//
// The format (one reader: the updater and its tests share this file):
//   "Lumiupd journal 1\n"
//   then one record a line, fields separated by tabs, the last field the
//   record's checksum (8 upper-case hex digits, FNV-1a of the line's bytes
//   before the tab that precedes it):
//     P <target> <backup> <staged> <old id> <new id>   a file put in place
//     D <target> <backup> <old id>                     a file removed
//     M <target>                                       a folder made
//     W <target> <new copy> <old copy> <old id>        a file written in place
//     C                                                the update is complete
// Names are relative to the journal's folder; an empty field is none (P of
// a file that was not there has no backup and no old id; W without an old
// copy can only be finished, not undone). An id is the volume serial (8 hex
// digits) and the file index (16 hex digits) of the file meant: a file at
// the name is acted on only when it is that file. Reading stops at the
// first line that is not a whole valid record: a record is written and put
// on disk before the change it names is made, so what a cut left half
// written names nothing that happened.
#pragma once

#include "base/strutil.h"

#include <stddef.h>

enum JournalKind {
    JOURNAL_PUT = 'P',
    JOURNAL_REMOVE = 'D',
    JOURNAL_FOLDER = 'M',
    JOURNAL_WRITE = 'W',
    JOURNAL_COMPLETE = 'C'
};

// A journal beyond this is not one of the updater's: it is not read.
enum { JOURNAL_MAX_BYTES = 16 << 20, JOURNAL_LINE_BYTES = 4 * MAX_PATH_BYTES + 128 };

extern const char JOURNAL_HEADER[];

struct FileId {
    unsigned long serial;
    unsigned long long index;
};

struct JournalRecord {
    char kind;
    char target[MAX_PATH_BYTES];
    char backup[MAX_PATH_BYTES];  // P, D: the old file's name until done
    char staged[MAX_PATH_BYTES];  // P: the new file; W: the copy of the new text
    char oldCopy[MAX_PATH_BYTES]; // W: the copy of the old text
    FileId oldId;                 // P, D: the old file; W: the file written
    FileId newId;                 // P: the new file
};

// 1 when the id names a file (a zero id names none).
int HasFileId(const FileId *id);
int SameFileId(const FileId *a, const FileId *b);

// 1 when name may stand in a journal: relative to the folder and inside it
// (no drive, stream, "." or ".." component, no leading or doubled
// backslash), no byte below 0x20, none of "/:*?\"<>|", shorter than
// MAX_PATH_BYTES. Double-byte characters are stepped over.
int IsJournalName(const char *name);

// The record as one line with its line feed, in line (size bytes); its
// length, or 0 when a name is not a journal name or the line does not fit.
size_t FormatJournalRecord(const JournalRecord *record, char *line, size_t size);

// The records of a journal's bytes (a heap array in *records, free; null
// when there are none): those up to the first line that is not a whole
// valid record, and none after a C record. *count of them; the result is 1
// when the bytes start with the header, 0 when they are no journal, -1
// (nothing kept) when memory ran out.
int ReadJournal(const char *bytes, size_t length, JournalRecord **records, size_t *count);
