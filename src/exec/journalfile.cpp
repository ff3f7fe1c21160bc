#include "exec/journalfile.h"

#include "base/safefile.h"
#include "base/tracelog.h"
#include "exec/leftover.h"

#include <stdlib.h>
#include <string.h>

namespace {

const char JOURNAL_PATTERN[] = "~lu*.jnl";

// The whole journal, when it is no larger than any journal of the updater's.
char *ReadAll(HANDLE file, size_t *length)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart > JOURNAL_MAX_BYTES)
        return nullptr;
    char *bytes = (char *)malloc((size_t)size.QuadPart + 1);
    DWORD got = 0;
    if (bytes && ReadFile(file, bytes, (DWORD)size.QuadPart, &got, nullptr) && got == (DWORD)size.QuadPart) {
        *length = got;
        return bytes;
    }
    free(bytes);
    return nullptr;
}

void PassOver(const char *path)
{
    TracePrintf("\tjournal passed over - %s\n", path);
}

// 1 to go on, 0 when seen said stop, -1 (last error set) when the journal
// could not be read.
int HandOn(const char *folder, const char *name, JournalSeen seen, void *data)
{
    NewFile journal;
    if (!JoinPath(journal.path, sizeof(journal.path), folder, name))
        return 1;
    // Without sharing: a running updater holds its own journal so.
    journal.handle = OpenPlainFile(journal.path, GENERIC_READ | DELETE | READ_CONTROL, 0, OPEN_EXISTING);
    if (journal.handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return 1;
        if (error != ERROR_CANT_RESOLVE_FILENAME)
            return -1;
        PassOver(journal.path);
        return 1;
    }
    size_t length = 0;
    char *bytes = IsOwnFile(journal.handle, folder) ? ReadAll(journal.handle, &length) : nullptr;
    JournalRecord *records = nullptr;
    size_t count = 0;
    // One of the updater's own without its header was cut before its first
    // records were on disk (they go with the header): it names nothing done.
    int read = bytes ? ReadJournal(bytes, length, &records, &count) : 0;
    int ours = bytes != nullptr;
    free(bytes);
    int result = 1;
    if (read < 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        result = -1;
    } else if (!ours) {
        PassOver(journal.path);
    } else {
        result = seen(folder, &journal, records, count, data) ? 1 : 0;
    }
    free(records);
    DWORD error = GetLastError();
    CloseJournal(&journal);
    SetLastError(error);
    return result;
}

} // namespace

int FileIdOf(HANDLE file, FileId *id)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return 0;
    id->serial = info.dwVolumeSerialNumber;
    id->index = ((unsigned long long)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    return 1;
}

int CreateJournal(NewFile *journal, const char *folder)
{
    char beside[MAX_PATH_BYTES];
    if (!JoinPath(beside, sizeof(beside), folder, JOURNAL_PATTERN)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (!NewFileOfKind(journal, beside, READ_CONTROL, LEFTOVER_JOURNAL, 1))
        return 0;
    if (NewFileWrite(journal, JOURNAL_HEADER, (DWORD)strlen(JOURNAL_HEADER)))
        return 1;
    DiscardNewFile(journal);
    return 0;
}

int WriteJournal(NewFile *journal, const JournalRecord *records, size_t count)
{
    char *lines = (char *)malloc(count * JOURNAL_LINE_BYTES + 1);
    if (!lines) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    size_t used = 0;
    for (size_t i = 0; i < count; i++) {
        size_t n = FormatJournalRecord(&records[i], lines + used, JOURNAL_LINE_BYTES);
        if (n == 0) {
            free(lines);
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        used += n;
    }
    // One write: whatever a cut keeps of it before the flush, nothing
    // named in it has been done.
    int written = NewFileWrite(journal, lines, (DWORD)used) && SetDeletePending(journal->handle, 0) &&
                  FlushFileBuffers(journal->handle);
    DWORD error = GetLastError();
    free(lines);
    SetLastError(error);
    return written;
}

void DeleteJournal(NewFile *journal)
{
    DiscardNewFile(journal);
}

void CloseJournal(NewFile *journal)
{
    if (journal->handle != INVALID_HANDLE_VALUE)
        CloseHandle(journal->handle);
    journal->handle = INVALID_HANDLE_VALUE;
}

int ForEachJournal(const char *folder, JournalSeen seen, void *data)
{
    char pattern[MAX_PATH_BYTES];
    // Where no journal's name fits, none can have been written.
    if (!JoinPath(pattern, sizeof(pattern), folder, JOURNAL_PATTERN))
        return 1;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 1;
    int handed = 1;
    do {
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            IsLeftoverNameOf(found.cFileName, LEFTOVER_JOURNAL))
            handed = HandOn(folder, found.cFileName, seen, data);
    } while (handed == 1 && FindNextFileA(search, &found));
    DWORD error = GetLastError();
    FindClose(search);
    SetLastError(error);
    return handed >= 0;
}
