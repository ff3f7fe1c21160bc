// The parsed update script and its commands.
#pragma once

#include "base/ptrlist.h"

enum {
    ACT_COPY = 1,
    ACT_REMOVE = 2,
    ACT_DLL = 3,
    ACT_EXE = 4,
    ACT_SHORTCUT = 5,
    ACT_LOG = 6,
    ACT_CREATE = 7
};

struct AddOnExtra {
    char *dll;
    char *func;
};

// extra by act: ACT_DLL an AddOnExtra, ACT_EXE the parameter string or null,
// ACT_SHORTCUT a 260-byte buffer with the expanded shortcut path; else null.
struct FileEntry {
    char *filename;
    int act;
    void *extra;
};

struct UpdateScript {
    char *id;
    char *kakunin;
    PtrList *targets;   // of char*
    PtrList *commands;  // of FileEntry*
    char *install;
    char *success;
    char *post;
    // "atomic=1": each destination is updated all or nothing (0 without the
    // line, or with "atomic=0").
    int atomic;
};

int InitUpdateScript(UpdateScript *script);
void FreeUpdateScript(UpdateScript *script);
void FreeFileEntry(FileEntry *entry);
void HashToNewline(char *text);
