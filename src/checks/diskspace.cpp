#include "checks/diskspace.h"

#include "base/runrecord.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "checks/checkrules.h"

#include <windows.h>
#include <shlwapi.h>
#include <string.h>

namespace {

typedef BOOL(WINAPI *GetDiskFreeSpaceFn)(LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD);
typedef BOOL(WINAPI *GetDiskFreeSpaceExFn)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                           PULARGE_INTEGER);

// folder + "\" + name, the separator doubled after a folder that already ends
// in one (the file system reads "\\" as one). 0 when it does not fit.
int JoinWithSeparator(char *out, const char *folder, const char *name)
{
    if (StrCopy(out, MAX_PATH_BYTES, folder) && StrAppend(out, MAX_PATH_BYTES, "\\") &&
        StrAppend(out, MAX_PATH_BYTES, name))
        return 1;
    out[0] = '\0';
    return 0;
}

// The most the drive holds beyond today at any moment of the update. A file
// is replaced by writing the new one beside the old and renaming it over, so
// while one file is copied the drive holds what the earlier copies added and
// that file's new version in full beside its old one. Whatever the order of
// the commands, that stays within what every growing or new file adds plus
// the largest file that stands twice: the smaller of its old and new sizes.
struct PeakNeed {
    long long additions;
    long long largestTwice;
    long long wholeNew;  // every new file in full
    long long files;
};

// Room for one record of the journal of an all-or-nothing update: its
// names and ids, well within.
const long long JOURNAL_BYTES_PER_FILE = 1024;
// The new settings file and history are made whole beside the old ones.
const char *const kRewrittenFiles[] = {"MIRO42.INI", "update.log"};

long long NeedAllAtOnce(const PeakNeed &peak, const char *dst)
{
    long long needed = peak.wholeNew + (peak.files + 1) * JOURNAL_BYTES_PER_FILE;
    for (const char *name : kRewrittenFiles) {
        char path[MAX_PATH_BYTES];
        if (JoinPath(path, sizeof(path), dst, name))
            needed += (long long)GetFileSizeByFilename(path) + JOURNAL_BYTES_PER_FILE;
    }
    return needed;
}

long long WalkNeed(const char *srcFolder, const char *dstFolder, PeakNeed *peak);

long long FileEntryNeed(const WIN32_FIND_DATAA &fd, const char *dstEntry, long long nSize, PeakNeed *peak)
{
    long long nSrc = ((long long)fd.nFileSizeHigh << 32) + fd.nFileSizeLow;
    // A counterpart that cannot be named cannot be opened: it counts as absent.
    long long nDst = dstEntry[0] ? (long long)GetFileSizeByFilename(dstEntry) : 0;
    TracePrintf("nSrc = %lld, nDst = %lld, uSize( %lld -->", nSrc, nDst, nSize);
    nSize += nSrc - nDst;
    TracePrintf(" %lld )\n", nSize);
    if (nSrc > nDst)
        peak->additions += nSrc - nDst;
    peak->wholeNew += nSrc;
    peak->files++;
    long long twice = nSrc < nDst ? nSrc : nDst;
    if (twice > peak->largestTwice)
        peak->largestTwice = twice;
    return nSize;
}

long long FolderEntryNeed(const char *srcFolder, const char *name, const char *dstEntry, PeakNeed *peak)
{
    char srcSub[MAX_PATH_BYTES];
    // A subfolder whose paths do not fit in the walk's buffers cannot be
    // searched, and a folder that cannot be searched needs nothing.
    if (!dstEntry[0] || !JoinWithSeparator(srcSub, srcFolder, name)) {
        TracePrintf("Path too long\n");
        return 0;
    }
    TracePrintf("GoToSub\n");
    return WalkNeed(srcSub, dstEntry, peak);
}

// The traced walk: returns the new sizes less the old (the nSize the trace
// shows) and gathers the peak on the way.
long long WalkNeed(const char *srcFolder, const char *dstFolder, PeakNeed *peak)
{
    TracePrintf("\t\t\t[%s]>>\n", "getNecessarySpaceDir");
    TracePrintf("\t\t\tpszSrcPath\t\t= %s\n", srcFolder);
    TracePrintf("\t\t\tpszDstPath\t\t= %s\n", dstFolder);
    long long nSize = 0;
    char pattern[MAX_PATH_BYTES];
    WIN32_FIND_DATAA fd;
    HANDLE find = INVALID_HANDLE_VALUE;
    // PathCombineA refuses (null) a result longer than its 260-byte buffer.
    if (PathCombineA(pattern, srcFolder, "*.*"))
        find = FindFirstFileA(pattern, &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            char dstEntry[MAX_PATH_BYTES];
            JoinWithSeparator(dstEntry, dstFolder, fd.cFileName);
            if (strcmp(fd.cFileName, ".") == 0 || strcmp(fd.cFileName, "..") == 0)
                continue;
            TracePrintf("\t\t\t\tfd.cFileName = %s, --> ", fd.cFileName);
            // A junction or a folder link is never entered: two links to
            // "." kept the walk going for good, and a link to another
            // user's folder put that user's file names into this trace.
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                TracePrintf("Link skipped\n");
            else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                nSize += FolderEntryNeed(srcFolder, fd.cFileName, dstEntry, peak);
            else
                nSize = FileEntryNeed(fd, dstEntry, nSize, peak);
        } while (FindNextFileA(find, &fd));
        FindClose(find);
    }
    TracePrintf("\t\t\tnSize = %lld\n", nSize);
    TracePrintf("\t\t\t[%s]<<\n", "getNecessarySpaceDir");
    return nSize;
}

} // namespace

int checkSpace(const PtrList *dsts, const char *srcFolder)
{
    return checkSpaceEach(dsts, srcFolder, nullptr, nullptr);
}

int checkSpaceEach(const PtrList *dsts, const char *srcFolder, SpaceSeen seen, void *data)
{
    return checkSpacePeak(dsts, srcFolder, PEAK_ONE_AT_A_TIME, seen, data);
}

int checkSpacePeak(const PtrList *dsts, const char *srcFolder, SpacePeak kind, SpaceSeen seen, void *data)
{
    TracePrintf("\t\t[%s]>>\n", "checkSpace");
    int ubResult = 1;
    for (PtrNode *cursor = PtrListFirst(dsts); cursor;) {
        const char *dst = (const char *)PtrListNextData(&cursor);
        PeakNeed peak = {0, 0, 0, 0};
        WalkNeed(srcFolder, dst, &peak);
        // The peak, not the net change: a drive with room for the difference
        // but not for a new file beside its old one would fail midway, after
        // earlier files were replaced.
        long long needed =
            kind == PEAK_ALL_AT_ONCE ? NeedAllAtOnce(peak, dst) : peak.additions + peak.largestTwice;
        long long freeBytes = (long long)getFreeSpaceDrive(DriveIndexOf(dst));
        TracePrintf("\t\t\t dwNecessarySpace = %I64d, dwFreeSpace = %I64d\n", needed, freeBytes);
        if (seen)
            seen(data, dst, needed, freeBytes);
        // Every destination is measured and traced, even after one failed.
        if (freeBytes < needed) {
            RecordNoSpace(dst, needed, freeBytes);
            ubResult = 0;
        }
    }
    TracePrintf("\t\tubResult = %d\n", ubResult);
    TracePrintf("\t\t[%s]<<\n", "checkSpace");
    return ubResult;
}

long long getNecessarySpaceDir(const char *srcFolder, const char *dstFolder)
{
    PeakNeed peak = {0, 0, 0, 0};
    return WalkNeed(srcFolder, dstFolder, &peak);
}

unsigned long long getFreeSpaceDrive(unsigned short driveIndex)
{
    if (driveIndex > DRIVE_INDEX_Z)
        return FREE_SPACE_UNKNOWN;
    char root[4] = {(char)('A' + driveIndex), ':', '\\', '\0'};
    HMODULE kernel = LoadLibraryA("kernel32.dll");
    if (!kernel)
        return FREE_SPACE_UNKNOWN;
    GetDiskFreeSpaceFn plain = (GetDiskFreeSpaceFn)(void *)GetProcAddress(kernel, "GetDiskFreeSpaceA");
    GetDiskFreeSpaceExFn extended =
        (GetDiskFreeSpaceExFn)(void *)GetProcAddress(kernel, "GetDiskFreeSpaceExA");
    unsigned long long result = 0;
    if (extended) {
        ULARGE_INTEGER available, total, totalFree;
        // Only the caller's share counts: it respects per-user quotas.
        if (extended(root, &available, &total, &totalFree) == 1)
            result = available.QuadPart;
    } else if (plain) {
        DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
        if (plain(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters) == 1)
            result = (unsigned long long)sectorsPerCluster * bytesPerSector * freeClusters;
    }
    FreeLibrary(kernel);
    return result;
}

unsigned long GetFileSizeByFilename(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = GetFileSize(file, nullptr);
    CloseHandle(file);
    return size;
}
