#define _CRT_RAND_S
#include "exec/atomicchange.h"

#include "base/safefile.h"
#include "exec/inplace.h"
#include "exec/journalfile.h"
#include "exec/leftover.h"
#include "exec/settingswrite.h"

#include <stdlib.h>
#include <string.h>

namespace {

const DWORD SHARE_READ_WRITE = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Attributes that go with a text file replaced by a new one.
const DWORD TEXT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The file at path held so that nobody else can rename or delete it until
// it is moved: INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND when there is
// none, or with what refuses it.
HANDLE HoldForMove(const char *path)
{
    return OpenNamedFile(path, DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE, SHARE_READ_WRITE);
}

int IsMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

int Fail(PreparedChange *change)
{
    FreePreparedChange(change);
    return 0;
}

// The old bytes of the held file, with its times and attributes, in a
// private new file beside it: what an undo writes back.
int KeepOldBytes(PreparedChange *change)
{
    FILE_BASIC_INFO basic;
    return GetFileInformationByHandleEx(change->held, FileBasicInfo, &basic, sizeof(basic)) &&
           StageCopyFrom(change->held, change->target, &change->oldCopy, 1) &&
           GiveBasicInfo(change->oldCopy.handle, &basic) && FlushFileBuffers(change->oldCopy.handle);
}

// W: the file held for writing in place, its old bytes kept.
int PrepareInPlace(PreparedChange *change)
{
    change->kind = JOURNAL_WRITE;
    change->held = OpenForInPlace(change->target);
    return change->held != INVALID_HANDLE_VALUE && FileIdOf(change->held, &change->oldId) && KeepOldBytes(change);
}

// The text staged for a P change: the new file carries the old one's owner,
// permissions and attributes; 0 with ERROR_ACCESS_DENIED when they cannot
// be carried over (a write in place keeps them).
int StageTextForMove(PreparedChange *change, const char *text, unsigned long length)
{
    FILE_BASIC_INFO basic;
    if (!NewFileOfKind(&change->staged, change->target, WRITE_DAC | WRITE_OWNER, LEFTOVER_NEW, 0) ||
        !NewFileWrite(&change->staged, text, length) || !SealNewFile(&change->staged, nullptr))
        return 0;
    if (change->held == INVALID_HANDLE_VALUE)
        return 1;
    if (!GetFileInformationByHandleEx(change->held, FileBasicInfo, &basic, sizeof(basic)))
        return 0;
    if (!CarrySecurity(change->held, change->staged.handle)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    change->attributes = basic.FileAttributes & TEXT_ATTRIBUTES;
    return 1;
}

int Relative(const char *path, const char *folder, char *relative)
{
    size_t n = strlen(folder);
    if (strncmp(path, folder, n) != 0 || !StrCopy(relative, MAX_PATH_BYTES, path + n) || !IsJournalName(relative)) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    return 1;
}

// A backup name beside the target's relative name.
int DrawBackup(const char *target, char *backup)
{
    unsigned int high = 0, low = 0;
    char name[LEFTOVER_NAME_BYTES];
    if (rand_s(&high) != 0 || rand_s(&low) != 0)
        return 0;
    LeftoverNameOf(name, high, low, LEFTOVER_BACKUP);
    const char *slash = MbsRChr(target, '\\');
    size_t keep = slash ? (size_t)(slash - target) + 1 : 0;
    if (keep + sizeof(name) > MAX_PATH_BYTES)
        return 0;
    memcpy(backup, target, keep);
    strcpy(backup + keep, name);
    return 1;
}

int Join(char *path, const char *folder, const char *name)
{
    if (JoinPath(path, MAX_PATH_BYTES, folder, name))
        return 1;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
}

// The move of the held file to its backup name.
int MoveAway(PreparedChange *change, const char *folder, const JournalRecord *record)
{
    char backup[MAX_PATH_BYTES];
    return Join(backup, folder, record->backup) && RenameWaiting(change->held, backup);
}

} // namespace

PreparedChange *NewPreparedChange(char kind, const char *target)
{
    PreparedChange *change = (PreparedChange *)calloc(1, sizeof(PreparedChange));
    if (!change || !StrCopy(change->target, sizeof(change->target), target)) {
        free(change);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    change->kind = kind;
    change->staged.handle = change->oldCopy.handle = change->held = INVALID_HANDLE_VALUE;
    return change;
}

void FreePreparedChange(PreparedChange *change)
{
    if (!change)
        return;
    DWORD error = GetLastError();
    if (change->kept) {
        CloseHandle(change->staged.handle);
        CloseHandle(change->oldCopy.handle);
        change->staged.handle = change->oldCopy.handle = INVALID_HANDLE_VALUE;
    }
    DiscardNewFile(&change->staged);
    DiscardNewFile(&change->oldCopy);
    if (change->held != INVALID_HANDLE_VALUE)
        CloseHandle(change->held);
    free(change);
    SetLastError(error);
}

PreparedChange *PrepareTextChange(const char *path, const char *text, unsigned long length)
{
    PreparedChange *change = NewPreparedChange(JOURNAL_PUT, path);
    if (!change)
        return nullptr;
    change->held = HoldForMove(path);
    int missing = change->held == INVALID_HANDLE_VALUE && IsMissing(GetLastError());
    int staged = 0;
    if (missing || change->held != INVALID_HANDLE_VALUE)
        staged = (missing || FileIdOf(change->held, &change->oldId)) && StageTextForMove(change, text, length);
    // Held by a program so that it cannot be renamed, or its owner and
    // permissions cannot be carried over: written in place, as the plain
    // run writes it.
    DWORD error = GetLastError();
    if (!staged && !missing && (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)) {
        DiscardNewFile(&change->staged);
        if (change->held != INVALID_HANDLE_VALUE)
            CloseHandle(change->held);
        staged = PrepareInPlace(change) && StageTextFor(change->held, change->target, text, length, &change->staged);
    }
    if (staged && (change->kind == JOURNAL_WRITE || FileIdOf(change->staged.handle, &change->newId)))
        return change;
    Fail(change);
    return nullptr;
}

PreparedChange *PrepareCopyChange(const char *src, const char *dst, const char *beside, const FILETIME *write,
                                  LPPROGRESS_ROUTINE routine, void *data)
{
    PreparedChange *change = NewPreparedChange(JOURNAL_PUT, dst);
    if (!change)
        return nullptr;
    DWORD blocked = ReplaceError(dst);
    int held = 0;
    if (!blocked) {
        change->held = HoldForMove(dst);
        held = change->held != INVALID_HANDLE_VALUE ? FileIdOf(change->held, &change->oldId) : IsMissing(GetLastError());
    } else {
        held = PrepareInPlace(change);
        if (!held)
            SetLastError(blocked);
    }
    DWORD carried = 0;
    if (!held || !StageCopy(src, beside, write, routine, data, &change->staged, &carried, change->kind == JOURNAL_WRITE)) {
        Fail(change);
        return nullptr;
    }
    change->attributes = carried;
    if (change->kind == JOURNAL_WRITE || FileIdOf(change->staged.handle, &change->newId))
        return change;
    Fail(change);
    return nullptr;
}

PreparedChange *PrepareRemoveChange(const char *path)
{
    DWORD error = DeleteOutcome(path);
    PreparedChange *change = error ? nullptr : NewPreparedChange(JOURNAL_REMOVE, path);
    if (error) {
        SetLastError(error);
        return nullptr;
    }
    if (change && (change->held = HoldForMove(path)) != INVALID_HANDLE_VALUE && FileIdOf(change->held, &change->oldId))
        return change;
    Fail(change);
    return nullptr;
}

int RecordOfChange(const PreparedChange *change, const char *folder, JournalRecord *record)
{
    memset(record, 0, sizeof(*record));
    record->kind = change->kind;
    record->oldId = change->oldId;
    record->newId = change->newId;
    if (!Relative(change->target, folder, record->target))
        return 0;
    if (change->staged.handle != INVALID_HANDLE_VALUE && !Relative(change->staged.path, folder, record->staged))
        return 0;
    if (change->oldCopy.handle != INVALID_HANDLE_VALUE && !Relative(change->oldCopy.path, folder, record->oldCopy))
        return 0;
    int moved = (change->kind == JOURNAL_PUT || change->kind == JOURNAL_REMOVE) && change->held != INVALID_HANDLE_VALUE;
    if (moved && !DrawBackup(record->target, record->backup)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    return 1;
}

int KeepCopies(PreparedChange *change)
{
    if (change->kind != JOURNAL_WRITE)
        return 1;
    change->kept = SetDeletePending(change->staged.handle, 0) && SetDeletePending(change->oldCopy.handle, 0);
    return change->kept;
}

// The write in place, its copies then let go of where they are.
int WriteOver(PreparedChange *change)
{
    if (!WriteCopyOver(change->held, change->staged.handle, nullptr, nullptr))
        return 0;
    CloseHandle(change->staged.handle);
    CloseHandle(change->oldCopy.handle);
    change->staged.handle = change->oldCopy.handle = INVALID_HANDLE_VALUE;
    return 1;
}

int MakeChange(PreparedChange *change, const char *folder, const JournalRecord *record)
{
    switch (change->kind) {
    case JOURNAL_FOLDER:
        return CreateDirectoryA(change->target, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    case JOURNAL_REMOVE:
        return MoveAway(change, folder, record);
    case JOURNAL_PUT:
        return (change->held == INVALID_HANDLE_VALUE || MoveAway(change, folder, record)) &&
               RenameNewFile(&change->staged, change->target, change->attributes);
    case JOURNAL_WRITE:
        return WriteOver(change);
    }
    SetLastError(ERROR_INVALID_FUNCTION);
    return 0;
}
