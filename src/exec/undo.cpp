#include "exec/undo.h"

#include "base/safefile.h"
#include "base/tracelog.h"
#include "exec/atomicchange.h"
#include "exec/inplace.h"
#include "exec/journalfile.h"

#include <string.h>

namespace {

const DWORD SHARE_READ_WRITE = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct Outcome {
    int ok;
    DWORD error;
};

void Failed(Outcome *outcome, const char *path)
{
    DWORD error = GetLastError();
    char *text = GetLastErrorText();
    TracePrintf("\t\tnot undone - %s - %s", path, text);
    LocalFree(text);
    if (outcome->ok) {
        outcome->ok = 0;
        outcome->error = error ? error : ERROR_GEN_FAILURE;
    }
}

// The file at path when it is the one id names, held so that nobody else can
// rename or delete it meanwhile. INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND
// when that file is not there (nothing, or another one, is at the name).
int IsMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

HANDLE OpenIfSame(const char *path, const FileId *id, DWORD access)
{
    HANDLE file = OpenNamedFile(path, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, SHARE_READ_WRITE);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_PATH_NOT_FOUND)
            SetLastError(ERROR_FILE_NOT_FOUND);
        return file;
    }
    FileId found;
    if (FileIdOf(file, &found) && SameFileId(&found, id))
        return file;
    CloseHandle(file);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

// 1 when the file id names is no longer at path (deleted now, traced as
// done when done is not null, or not there).
int DeleteIfSame(const char *path, const FileId *id, const char *done)
{
    HANDLE file = OpenIfSame(path, id, DELETE | FILE_WRITE_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    // A new file may carry the read-only attribute of its source.
    FILE_BASIC_INFO basic;
    memset(&basic, 0, sizeof(basic));
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof(basic));
    int deleted = SetDeletePending(file, 1);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (deleted && done)
        TracePrintf("\t\t%s - %s\n", done, path);
    SetLastError(error);
    return deleted;
}

int Join(char *path, const char *folder, const char *name)
{
    if (JoinPath(path, MAX_PATH_BYTES, folder, name))
        return 1;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
}

// The old file back under its name from its backup; 1 when it is there
// (moved back now, or never moved away).
int PutBack(const char *target, const char *backup, const FileId *oldId)
{
    HANDLE file = OpenIfSame(backup, oldId, DELETE);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            return 0;
        HANDLE there = OpenIfSame(target, oldId, 0);
        if (there == INVALID_HANDLE_VALUE)
            return 0;
        CloseHandle(there);
        return 1;
    }
    int moved = RenameWaiting(file, target);
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    if (moved)
        TracePrintf("\t\trestored - %s\n", target);
    return moved;
}

// The bytes, times and attributes of the copy at from (one of the
// updater's own files) given to the file at target (the one id names).
// -1 when there is no copy at from.
int WriteBack(const char *folder, const char *target, const FileId *id, const char *from)
{
    HANDLE copy = OpenPlainFile(from, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, OPEN_EXISTING);
    if (copy == INVALID_HANDLE_VALUE)
        return IsMissing(GetLastError()) ? -1 : 0;
    HANDLE file = OpenIfSame(target, id, GENERIC_READ | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES);
    int done = file != INVALID_HANDLE_VALUE && IsOwnFile(copy, folder) && WriteCopyOver(file, copy, nullptr, nullptr);
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    CloseHandle(copy);
    SetLastError(error);
    return done;
}

// The copies a write in place kept (its new bytes, and its old ones when it
// kept them) deleted; what cannot go is a leftover the next run clears.
void DropCopies(const char *folder, const JournalRecord *r, int staged)
{
    char path[MAX_PATH_BYTES];
    if (staged && Join(path, folder, r->staged))
        DeletePlainFile(path);
    if (r->oldCopy[0] && Join(path, folder, r->oldCopy))
        DeletePlainFile(path);
}

int UndoPut(const char *folder, const char *target, const JournalRecord *r)
{
    char path[MAX_PATH_BYTES];
    // The new file goes first: the old one then needs no name freed.
    if (!Join(path, folder, r->staged) || !DeleteIfSame(path, &r->newId, nullptr) ||
        !DeleteIfSame(target, &r->newId, r->backup[0] ? nullptr : "removed"))
        return 0;
    return !r->backup[0] || (Join(path, folder, r->backup) && PutBack(target, path, &r->oldId));
}

int UndoWrite(const char *folder, const char *target, const JournalRecord *r)
{
    char old[MAX_PATH_BYTES];
    if (!r->oldCopy[0]) {
        SetLastError(ERROR_INVALID_DATA);  // a write that can only be finished
        return 0;
    }
    if (!Join(old, folder, r->oldCopy) || WriteBack(folder, target, &r->oldId, old) != 1)
        return 0;
    TracePrintf("\t\trestored - %s\n", target);
    DropCopies(folder, r, 1);
    return 1;
}

void UndoOne(const char *folder, const JournalRecord *r, Outcome *outcome)
{
    char target[MAX_PATH_BYTES], backup[MAX_PATH_BYTES];
    int ok = Join(target, folder, r->target);
    if (ok && r->kind == JOURNAL_PUT)
        ok = UndoPut(folder, target, r);
    else if (ok && r->kind == JOURNAL_REMOVE)
        ok = Join(backup, folder, r->backup) && PutBack(target, backup, &r->oldId);
    else if (ok && r->kind == JOURNAL_WRITE)
        ok = UndoWrite(folder, target, r);
    // What a program put in a folder since is its own: one not empty stays.
    else if (ok && r->kind == JOURNAL_FOLDER && RemoveDirectoryA(target))
        TracePrintf("\t\tremoved - %s\n", target);
    if (!ok)
        Failed(outcome, r->target);
}

// A write in place is finished from its copy; when the copy is gone, the
// write was whole before it went.
int CompleteWrite(const char *folder, const JournalRecord *r)
{
    char target[MAX_PATH_BYTES], staged[MAX_PATH_BYTES];
    if (!Join(target, folder, r->target) || !Join(staged, folder, r->staged))
        return 0;
    int written = WriteBack(folder, target, &r->oldId, staged);
    if (written == 0)
        return 0;
    DropCopies(folder, r, written == 1);
    return 1;
}

void CompleteOne(const char *folder, const JournalRecord *r, Outcome *outcome)
{
    char path[MAX_PATH_BYTES];
    int ok = 1;
    if (r->kind == JOURNAL_PUT || r->kind == JOURNAL_REMOVE)
        ok = !r->backup[0] || (Join(path, folder, r->backup) && DeleteIfSame(path, &r->oldId, nullptr));
    if (ok && r->kind == JOURNAL_PUT)
        ok = Join(path, folder, r->staged) && DeleteIfSame(path, &r->newId, nullptr);
    if (ok && r->kind == JOURNAL_WRITE)
        ok = CompleteWrite(folder, r);
    if (!ok)
        Failed(outcome, r->target);
}

} // namespace

int UndoChanges(const char *folder, const JournalRecord *records, size_t count)
{
    Outcome outcome = {1, 0};
    for (size_t i = count; i-- > 0;)
        UndoOne(folder, &records[i], &outcome);
    MakeDurable(folder);
    SetLastError(outcome.error);
    return outcome.ok;
}

int CompleteChanges(const char *folder, const JournalRecord *records, size_t count)
{
    Outcome outcome = {1, 0};
    for (size_t i = 0; i < count; i++)
        CompleteOne(folder, &records[i], &outcome);
    SetLastError(outcome.error);
    return outcome.ok;
}

int MakeDurable(const char *folder)
{
    // A file made last and flushed: the drive's log is on disk up to it, so
    // every change made before it on that drive is too.
    char beside[MAX_PATH_BYTES];
    NewFile mark;
    if (!JoinPath(beside, sizeof(beside), folder, "x") || !NewFileBeside(&mark, beside, 0))
        return 0;
    int flushed = FlushFileBuffers(mark.handle);
    DiscardNewFile(&mark);
    return flushed;
}

void DropWriteCopies(const char *folder, const JournalRecord *records, size_t count)
{
    for (size_t i = 0; i < count; i++)
        if (records[i].kind == JOURNAL_WRITE)
            DropCopies(folder, &records[i], 1);
}
