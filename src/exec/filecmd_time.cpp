#include "exec/filecmd.h"

#include "base/runrecord.h"
#include "base/safefile.h"
#include "base/tracelog.h"
#include "exec/copysource.h"

namespace {

// Entry line and the traced open shared by the two file-time helpers.
HANDLE OpenForTimes(const char *routine, const char *name, DWORD access)
{
    TracePrintf("\t[%s]>>\n", routine);
    TracePrintf("\t\tCreateFile().\n");
    // Times are only ever set on the file the name holds, never through a link.
    HANDLE handle = access == GENERIC_WRITE
                        ? OpenPlainFile(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)
                        : OpenCopySource(name, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_ATTRIBUTE_NORMAL);
    // Only a source that cannot be read fails its command.
    if (handle == INVALID_HANDLE_VALUE && access != GENERIC_WRITE)
        RecordError(GetLastError());
    if (handle == INVALID_HANDLE_VALUE)
        TracePrintf("\t\t\tFailed. [%p]\n", handle);
    else
        TracePrintf("\t\t\tSucceeded. [%p]\n", handle);
    return handle;
}

int CloseForTimes(const char *routine, HANDLE handle, BOOL done)
{
    int result = 0;
    if (handle != INVALID_HANDLE_VALUE) {
        result = done ? 1 : 0;
        TracePrintf(result ? "\t\t\t\tSucceeded.\n" : "\t\t\t\tFailed.\n");
        CloseHandle(handle);
    }
    TracePrintf("\tbResult = %d\n", result);
    TracePrintf("\t[%s]<<\n", routine);
    return result;
}

} // namespace

int GetFileTimeByFilename(const char *name, FILETIME *creation, FILETIME *access, FILETIME *write)
{
    const char *routine = "GetFileTimeByFilename";
    HANDLE handle = OpenForTimes(routine, name, GENERIC_READ);
    BOOL done = FALSE;
    if (handle != INVALID_HANDLE_VALUE) {
        TracePrintf("\t\n\t\tGetFileTime().\n");
        done = GetFileTime(handle, creation, access, write);
    }
    return CloseForTimes(routine, handle, done);
}

int SetFileTimeByFilename(const char *name, const FILETIME *creation, const FILETIME *access,
                          const FILETIME *write)
{
    const char *routine = "SetFileTimeByFilename";
    HANDLE handle = OpenForTimes(routine, name, GENERIC_WRITE);
    BOOL done = FALSE;
    if (handle != INVALID_HANDLE_VALUE) {
        TracePrintf("\t\n\t\tSetFileTime().\n");
        done = SetFileTime(handle, creation, access, write);
    }
    return CloseForTimes(routine, handle, done);
}
