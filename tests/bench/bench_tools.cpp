// Measuring tools for the benchmark (not a test):
//   bench_tools.exe copy SRC_DIR DST_DIR       copies every file of SRC_DIR with CopyFileExA
//   bench_tools.exe walk DIR                   a bare recursive FindFirstFileA walk
//   bench_tools.exe run PROGRAM [ARGS...]      runs a program and waits for it
// Each prints "ms=<wall milliseconds> peak_kb=<peak working set of the program, run only>".
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
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

int CopyAll(const std::string &src, const std::string &dst)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((src + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int n = 0;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        BOOL cancel = FALSE;
        if (CopyFileExA((src + "\\" + fd.cFileName).c_str(), (dst + "\\" + fd.cFileName).c_str(), nullptr,
                        nullptr, &cancel, COPY_FILE_RESTARTABLE))
            n++;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return n;
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
    while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS pmc = {};
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof(pmc)) && pmc.PeakWorkingSetSize > *peak)
            *peak = pmc.PeakWorkingSetSize;
    }
    *ms = NowMs() - start;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return (int)code;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && !strcmp(argv[1], "copy")) {
        double t = NowMs();
        int n = CopyAll(argv[2], argv[3]);
        printf("ms=%.0f files=%d\n", NowMs() - t, n);
        return 0;
    }
    if (argc >= 3 && !strcmp(argv[1], "walk")) {
        double t = NowMs();
        long long bytes = Walk(argv[2]);
        printf("ms=%.0f bytes=%lld\n", NowMs() - t, bytes);
        return 0;
    }
    if (argc >= 3 && !strcmp(argv[1], "run")) {
        double ms = 0;
        SIZE_T peak = 0;
        int code = Run(argc - 2, argv + 2, &ms, &peak);
        printf("ms=%.0f peak_kb=%lu exit=%d\n", ms, (unsigned long)(peak / 1024), code);
        return 0;
    }
    fprintf(stderr, "usage: bench_tools.exe copy SRC DST | walk DIR | run PROGRAM [ARGS...]\n");
    return 2;
}
