// Measuring tools and floors for the benchmark (not a test):
//   bench_tools.exe run PROGRAM [ARGS...]
//       runs a program, prints "ms=<wall> peak_kb=<peak working set> exit=<code>"
//   bench_tools.exe walk DIR
//       a bare recursive FindFirstFileA walk
//   bench_tools.exe preflight SRC DST CALLS
//       the walk, the space check's counterpart opens in DST and the free-space
//       query, and CALLS log cycles
//   bench_tools.exe copy SRC DST CALLS
//       the walk and opens above over SRC, then for each file of SRC\data: the
//       source's time read, the delete, the restartable copy (a message of the
//       thread taken per MiB copied, as the updater's copy takes them), the
//       time stamp, with CALLS log cycles in all
//   bench_tools.exe copysafe SRC DST CALLS
//       the same copy made crash-safe: a probe of the installed file, the copy
//       under a temporary name beside it, the time stamp and flush through one
//       handle, then a write-through replace
// A log cycle is what the updater's log does per call at the least: open the
// existing file, seek to its end, print, close.
// The floors import what the updater imports at start (what every program
// imports), so that their start costs what the updater's does and each line
// compares the work.
#include <windows.h>
#include <bcrypt.h>
#include <psapi.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

double NowMs()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return 1000.0 * (double)c.QuadPart / (double)f.QuadPart;
}

const double RUN_LIMIT_MS = 300000;

std::string logPath;

void StartLog()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    logPath = std::string(temp) + "LumiBenchFloor.log";
    FILE *f = fopen(logPath.c_str(), "w");
    if (f)
        fclose(f);
}

void LogCycle(const char *format, ...)
{
    FILE *f = fopen(logPath.c_str(), "r+t");
    if (!f)
        return;
    fseek(f, 0, SEEK_END);
    va_list args;
    va_start(args, format);
    vfprintf(f, format, args);
    va_end(args);
    fclose(f);
}

void LogCycles(unsigned long n, const char *name)
{
    for (unsigned long i = 0; i < n; i++)
        LogCycle("\t\t\t\tfd.cFileName = %s, --> \n", name);
}

long long Walk(const std::string &dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    long long total = 0;
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            total += Walk(dir + "\\" + fd.cFileName);
        else
            total += ((long long)fd.nFileSizeHigh << 32) + fd.nFileSizeLow;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return total;
}

// The package's floor of the check: every file of dir read once and hashed
// with the system's SHA-256 in 1 MiB pieces, nothing else. Its time is what
// no check of every byte can go below on this system.
long long HashFolder(const std::string &dir)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
        return -1;
    static unsigned char buffer[1 << 20];
    WIN32_FIND_DATAA fd;
    HANDLE found = FindFirstFileA((dir + "\\*.*").c_str(), &fd);
    long long total = 0;
    for (BOOL more = found != INVALID_HANDLE_VALUE; more; more = FindNextFileA(found, &fd)) {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        HANDLE file = CreateFileA((dir + "\\" + fd.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        BCRYPT_HASH_HANDLE hash = nullptr;
        if (file == INVALID_HANDLE_VALUE || BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) < 0)
            return -1;
        DWORD got = 0;
        while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got) {
            BCryptHashData(hash, buffer, got, 0);
            total += got;
        }
        unsigned char digest[32];
        BCryptFinishHash(hash, digest, sizeof(digest), 0);
        BCryptDestroyHash(hash);
        CloseHandle(file);
    }
    if (found != INVALID_HANDLE_VALUE)
        FindClose(found);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return total;
}

// The walk of the space check: each file's counterpart is opened for its size.
long long SpaceWalk(const std::string &src, const std::string &dst)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((src + "\\*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    long long total = 0;
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
            continue;
        std::string counterpart = dst + "\\" + fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            total += SpaceWalk(src + "\\" + fd.cFileName, counterpart);
            continue;
        }
        total += ((long long)fd.nFileSizeHigh << 32) + fd.nFileSizeLow;
        HANDLE file = CreateFileA(counterpart.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            total -= GetFileSize(file, nullptr);
            CloseHandle(file);
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return total;
}

long long PreFlight(const std::string &src, const std::string &dst)
{
    long long need = SpaceWalk(src, dst);
    ULARGE_INTEGER available, total, totalFree;
    GetDiskFreeSpaceExA((dst.substr(0, 3)).c_str(), &available, &total, &totalFree);
    return need;
}

int ReadTime(const std::string &path, FILETIME *write)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    BOOL done = GetFileTime(h, nullptr, nullptr, write);
    CloseHandle(h);
    return done;
}

// The source's time as creation and last-write time, and, when asked, the
// data put on disk, through one handle.
int StampFile(const std::string &path, const FILETIME &write, int flush)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    SetFileTime(h, &write, nullptr, &write);
    if (flush)
        FlushFileBuffers(h);
    CloseHandle(h);
    return 1;
}

// What the copy progress routine must do on each call (one waiting message
// of the thread taken and dispatched), as often as the updater's copy calls
// it: once per MiB copied, the last piece included. Wine's CopyFileExA never
// calls a progress routine back, so the floor takes them after the copy.
// user32 is loaded on the first one, as the updater loads it.
typedef BOOL(WINAPI *PeekFn)(MSG *, HWND, UINT, UINT, UINT);
typedef BOOL(WINAPI *TranslateFn)(const MSG *);
typedef LRESULT(WINAPI *DispatchFn)(const MSG *);
unsigned long pumps = 0;

void PumpOnce()
{
    static PeekFn peek;
    static TranslateFn translate;
    static DispatchFn dispatch;
    if (!peek) {
        HMODULE user32 = LoadLibraryA("user32.dll");
        peek = (PeekFn)(void (*)(void))GetProcAddress(user32, "PeekMessageA");
        translate = (TranslateFn)(void (*)(void))GetProcAddress(user32, "TranslateMessage");
        dispatch = (DispatchFn)(void (*)(void))GetProcAddress(user32, "DispatchMessageA");
    }
    MSG msg;
    if (peek && peek(&msg, nullptr, 0, 0, PM_REMOVE)) {
        translate(&msg);
        dispatch(&msg);
    }
    pumps++;
}

BOOL PumpedCopy(const std::string &src, const std::string &dst)
{
    BOOL cancel = FALSE;
    if (!CopyFileExA(src.c_str(), dst.c_str(), nullptr, nullptr, &cancel, COPY_FILE_RESTARTABLE))
        return FALSE;
    WIN32_FILE_ATTRIBUTE_DATA data;
    long long size = GetFileAttributesExA(dst.c_str(), GetFileExInfoStandard, &data)
                         ? ((long long)data.nFileSizeHigh << 32) + data.nFileSizeLow
                         : 0;
    for (long long done = 0; done < size; done += 1 << 20)
        PumpOnce();
    return TRUE;
}

int PlainCopy(const std::string &src, const std::string &dst, const FILETIME &write)
{
    DeleteFileA(dst.c_str());
    return PumpedCopy(src, dst) &&
           StampFile(dst, write, 0);
}

void ProbeOpen(const std::string &path, DWORD access, DWORD share)
{
    HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

int SafeCopy(const std::string &src, const std::string &dst, const FILETIME &write)
{
    GetFileAttributesA(dst.c_str());
    ProbeOpen(dst, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ProbeOpen(dst, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    // A leftover name in the destination's folder, as the updater uses (its own is drawn at random).
    char name[32];
    snprintf(name, sizeof(name), "~lu%08lX.tmp", GetCurrentProcessId());
    std::string temp = dst.substr(0, dst.find_last_of('\\') + 1) + name;
    if (!PumpedCopy(src, temp) ||
        !StampFile(temp, write, 1))
        return 0;
    return MoveFileExA(temp.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

// The copy run: the pre-flight over the update folder, then every file of
// its "data" folder into the destination's, the log cycles spread over them.
int CopyRun(const std::string &src, const std::string &dst, unsigned long calls, bool safe)
{
    PreFlight(src, dst);
    std::string from = src + "\\data", to = dst + "\\data";
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((from + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    std::string names[256];
    int count = 0;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && count < 256)
            names[count++] = fd.cFileName;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    int copied = 0;
    unsigned long logged = 0;
    for (int i = 0; i < count; i++) {
        FILETIME write;
        std::string s = from + "\\" + names[i], d = to + "\\" + names[i];
        if (ReadTime(s, &write) && (safe ? SafeCopy(s, d, write) : PlainCopy(s, d, write)))
            copied++;
        unsigned long share = (unsigned long)((unsigned long long)calls * (i + 1) / count) - logged;
        LogCycles(share, names[i].c_str());
        logged += share;
    }
    LogCycles(calls - logged, "");
    return copied;
}

int Run(int argc, char **argv, double *ms, SIZE_T *peak)
{
    std::string cmd;
    for (int i = 0; i < argc; i++)
        cmd += std::string(i ? " " : "") + (strchr(argv[i], ' ') ? "\"" + std::string(argv[i]) + "\"" : argv[i]);
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    double start = NowMs();
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1000;
    // Sample the working set while the program runs: a finished process
    // reports nothing under every platform.
    *peak = 0;
    do {
        PROCESS_MEMORY_COUNTERS pmc = {};
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof(pmc)) && pmc.PeakWorkingSetSize > *peak)
            *peak = pmc.PeakWorkingSetSize;
    } while (WaitForSingleObject(pi.hProcess, 5) == WAIT_TIMEOUT && NowMs() - start < RUN_LIMIT_MS);
    *ms = NowMs() - start;
    DWORD code = 0;
    // A program that waits for an answer nobody gives is ended, not waited for.
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
        code = (DWORD)-1;
    } else {
        GetExitCodeProcess(pi.hProcess, &code);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && !strcmp(argv[1], "run")) {
        double ms = 0;
        SIZE_T peak = 0;
        int code = Run(argc - 2, argv + 2, &ms, &peak);
        printf("ms=%.1f peak_kb=%lu exit=%d\n", ms, (unsigned long)(peak / 1024), code);
        return 0;
    }
    if (argc >= 3 && !strcmp(argv[1], "walk")) {
        long long bytes = Walk(argv[2]);
        printf("bytes=%lld\n", bytes);
        return 0;
    }
    if (argc >= 3 && !strcmp(argv[1], "hash")) {
        printf("bytes=%lld\n", HashFolder(argv[2]));
        return 0;
    }
    if (argc >= 5 && !strcmp(argv[1], "preflight")) {
        StartLog();
        long long need = PreFlight(argv[2], argv[3]);
        LogCycles(strtoul(argv[4], nullptr, 10), "");
        printf("need=%lld\n", need);
        return 0;
    }
    if (argc >= 5 && (!strcmp(argv[1], "copy") || !strcmp(argv[1], "copysafe"))) {
        StartLog();
        int n = CopyRun(argv[2], argv[3], strtoul(argv[4], nullptr, 10), !strcmp(argv[1], "copysafe"));
        printf("files=%d pumps=%lu\n", n, pumps);
        return 0;
    }
    fprintf(stderr, "usage: bench_tools.exe run PROGRAM [ARGS...] | walk DIR | hash DIR | "
                    "preflight SRC DST CALLS | copy SRC DST CALLS | copysafe SRC DST CALLS\n");
    return 2;
}
