#include "exec/inplace.h"

#include "base/safefile.h"
#include "base/strutil.h"
#include "exec/filereplace.h"
#include "exec/journalfile.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Big enough that a write costs what the system's own copy costs.
const DWORD CHUNK = 1u << 20;

struct Piece {
    char *buffer;
    unsigned long long total, done;
    LPPROGRESS_ROUTINE routine;
    void *data;
};

int Seek(HANDLE file, unsigned long long at)
{
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)at;
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) ? 1 : 0;
}

int ReadNew(const NewBytes *from, unsigned long long at, char *buffer, DWORD size)
{
    if (from->file == INVALID_HANDLE_VALUE) {
        memcpy(buffer, from->bytes + at, size);
        return 1;
    }
    OVERLAPPED where;
    memset(&where, 0, sizeof(where));
    where.Offset = (DWORD)at;
    where.OffsetHigh = (DWORD)(at >> 32);
    DWORD got = 0;
    if (!ReadFile(from->file, buffer, size, &got, &where))
        return 0;
    if (got == size)
        return 1;
    SetLastError(ERROR_HANDLE_EOF);
    return 0;
}

// Copies the new bytes [from, to) over target's bytes at the same places.
int CopyRange(HANDLE target, const NewBytes *bytes, unsigned long long from, unsigned long long to, Piece *piece)
{
    if (from < to && !Seek(target, from))
        return 0;
    while (from < to) {
        DWORD n = to - from < CHUNK ? (DWORD)(to - from) : CHUNK;
        DWORD written = 0;
        if (!ReadNew(bytes, from, piece->buffer, n) || !WriteFile(target, piece->buffer, n, &written, nullptr))
            return 0;
        if (written != n) {
            SetLastError(ERROR_DISK_FULL);
            return 0;
        }
        from += n;
        piece->done += n;
        if (piece->routine) {
            LARGE_INTEGER total, done;
            total.QuadPart = (LONGLONG)piece->total;
            done.QuadPart = (LONGLONG)piece->done;
            piece->routine(total, done, total, done, 1, CALLBACK_CHUNK_FINISHED, nullptr, target, piece->data);
        }
    }
    return 1;
}

int SetSize(HANDLE file, unsigned long long size)
{
    return Seek(file, size) && SetEndOfFile(file);
}

int Overwrite(HANDLE target, const NewBytes *from, unsigned long long oldSize, Piece *piece)
{
    unsigned long long newSize = from->size;
    if (newSize > oldSize && !CopyRange(target, from, oldSize, newSize, piece)) {
        // Nothing of the old bytes has changed yet: they stay as they were.
        DWORD error = GetLastError();
        SetSize(target, oldSize);
        SetLastError(error);
        return 0;
    }
    unsigned long long common = newSize < oldSize ? newSize : oldSize;
    return CopyRange(target, from, 0, common, piece) && SetSize(target, newSize) && FlushFileBuffers(target);
}

} // namespace

int OverwriteInPlace(HANDLE target, const NewBytes *from, LPPROGRESS_ROUTINE routine, void *data)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(target, &size))
        return 0;
    Piece piece;
    piece.buffer = (char *)malloc(from->size < CHUNK ? (size_t)from->size + 1 : CHUNK);
    piece.total = from->size;
    piece.done = 0;
    piece.routine = routine;
    piece.data = data;
    if (!piece.buffer) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    int done = Overwrite(target, from, (unsigned long long)size.QuadPart, &piece);
    DWORD error = GetLastError();
    free(piece.buffer);
    SetLastError(error);
    return done;
}

int GiveBasicInfo(HANDLE file, const FILE_BASIC_INFO *basic)
{
    FILE_BASIC_INFO given = *basic;
    given.ChangeTime.QuadPart = 0;
    return SetFileInformationByHandle(file, FileBasicInfo, &given, sizeof(given));
}

int WriteCopyOver(HANDLE target, HANDLE copy, LPPROGRESS_ROUTINE routine, void *data)
{
    LARGE_INTEGER size;
    FILE_BASIC_INFO basic;
    if (!GetFileSizeEx(copy, &size) || !GetFileInformationByHandleEx(copy, FileBasicInfo, &basic, sizeof(basic)))
        return 0;
    NewBytes from;
    from.file = copy;
    from.bytes = nullptr;
    from.size = (unsigned long long)size.QuadPart;
    return OverwriteInPlace(target, &from, routine, data) && GiveBasicInfo(target, &basic) &&
           FlushFileBuffers(target);
}

int StageTextFor(HANDLE target, const char *path, const char *text, unsigned long length, NewFile *staged)
{
    FILE_BASIC_INFO basic;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (!GetFileInformationByHandleEx(target, FileBasicInfo, &basic, sizeof(basic)) ||
        !NewFileOfKind(staged, path, 0, LEFTOVER_NEW, 1) || !NewFileWrite(staged, text, length))
        return 0;
    basic.LastWriteTime.LowPart = now.dwLowDateTime;
    basic.LastWriteTime.HighPart = (LONG)now.dwHighDateTime;
    return GiveBasicInfo(staged->handle, &basic) && FlushFileBuffers(staged->handle);
}

namespace {

// The journal's two records: the write, and that it is to be finished.
int RecordsOfWrite(HANDLE target, const char *path, const NewFile *staged, JournalRecord *records)
{
    memset(records, 0, 2 * sizeof(JournalRecord));
    records[0].kind = JOURNAL_WRITE;
    records[1].kind = JOURNAL_COMPLETE;
    return StrCopy(records[0].target, MAX_PATH_BYTES, PathLastComponent(path)) &&
           StrCopy(records[0].staged, MAX_PATH_BYTES, PathLastComponent(staged->path)) &&
           FileIdOf(target, &records[0].oldId);
}

} // namespace

int OverwriteSurely(HANDLE target, const char *path, NewFile *staged, LPPROGRESS_ROUTINE routine, void *data)
{
    char folder[MAX_PATH_BYTES];
    JournalRecord records[2];
    NewFile journal;
    journal.handle = INVALID_HANDLE_VALUE;
    const char *name = PathLastComponent(path);
    int ok = StrCopy(folder, sizeof(folder), path) && RecordsOfWrite(target, path, staged, records);
    if (ok) {
        folder[name - path] = '\0';
        // The copy stays from now on, whatever becomes of the process: the
        // journal names it.
        ok = CreateJournal(&journal, folder) && SetDeletePending(staged->handle, 0) &&
             WriteJournal(&journal, records, 2) && WriteCopyOver(target, staged->handle, routine, data);
    }
    DWORD error = GetLastError();
    DiscardNewFile(staged);
    DeleteJournal(&journal);
    SetLastError(error);
    return ok;
}
