#include "run/selfstage.h"

#include "base/messages.h"
#include "base/safefile.h"
#include "checks/ownimage.h"
#include "exec/stage.h"
#include "run/run.h"
#include "script/foldermacro.h"
#include "script/parser.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// What the updater puts before the user's command line when it starts its
// copy: the stage's folder handle it lets the copy inherit (proof that an
// elevated updater made the stage) and the update folder.
const char HANDOVER[] = "-lumistage=";
const char NOT_STAGED[] = "cannot be staged";
const char NO_CURRENT_FOLDER[] = "NoDefaultCurrentDirectoryInExePath";
// An updater is a few hundred kilobytes, with a large manifest a few megabytes.
const unsigned long long IMAGE_MOST = 64ull << 20;

int Refuse(StagedRun *run, int code)
{
    run->refusal = NOT_STAGED;
    run->refusalCode = code;
    return 0;
}

// The updater's path and its manifest, when it holds a whole one.
int ReadOwnManifest(void *instance, char *path, Manifest *manifest, ManifestPlace *place)
{
    char script[MAX_PATH_BYTES];
    PeBytes image;
    ManifestFault fault;
    memset(manifest, 0, sizeof(*manifest));
    DWORD length = GetModuleFileNameA((HMODULE)instance, path, MAX_PATH_BYTES);
    if (length == 0 || length >= MAX_PATH_BYTES || !StrCopy(script, sizeof(script), PathLastComponent(path)) ||
        !ScriptPathFromModulePath(script, sizeof(script)) || !OwnImage(&image))
        return 0;
    return ReadImageManifest(&image, script, manifest, place, &fault) == MANIFEST_FOUND;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// "-lumistage=XXXXXXXX "FOLDER" REST": 1 with its parts, 0 when the line
// does not start with it, -1 when it does but is not whole.
int SplitHandover(const char *line, HANDLE *root, char *folder, const char **rest)
{
    size_t n = sizeof(HANDOVER) - 1;
    if (strncmp(line, HANDOVER, n) != 0)
        return 0;
    unsigned long value = 0;
    const char *p = line + n;
    for (int i = 0; i < 8; i++, p++) {
        int digit = HexDigit(*p);
        if (digit < 0)
            return -1;
        value = value << 4 | (unsigned long)digit;
    }
    const char *end = p[0] == ' ' && p[1] == '"' ? strchr(p + 2, '"') : nullptr;
    if (!end || (size_t)(end - p - 2) >= MAX_PATH_BYTES)
        return -1;
    memcpy(folder, p + 2, (size_t)(end - p - 2));
    folder[end - p - 2] = '\0';
    *root = (HANDLE)(ULONG_PTR)value;
    *rest = end[1] == ' ' ? end + 2 : end + 1;
    return 1;
}

// The copy: the handle is a folder this process inherited, and that folder
// is the one it runs from; the update folder is a full path.
int TakeHandover(StagedRun *run, HANDLE root, const char *folder)
{
    char own[MAX_PATH_BYTES];
    const char *last = MbsLastChar(folder);
    if (!StrCopy(own, sizeof(own), run->srcFolder) || !last || *last != '\\' ||
        !((folder[0] && folder[1] == ':' && folder[2] == '\\') || strncmp(folder, "\\\\", 2) == 0))
        return 0;
    own[strlen(own) - 1] = '\0';
    // The updater that made the stage holds it; this process needs no handle
    // of it, nor passes one on to what it starts.
    int made = IsFolderHandleOfPath(root, own);
    CloseHandle(root);
    if (!made || !AdoptStage(folder, run->srcFolder))
        return 0;
    run->child = 1;
    return StrCopy(run->srcFolder, sizeof(run->srcFolder), folder);
}

int ReadWhole(HANDLE file, unsigned char *bytes, size_t size)
{
    size_t done = 0;
    DWORD got = 1;
    while (done < size && got > 0) {
        if (!ReadFile(file, bytes + done, (DWORD)(size - done), &got, nullptr))
            return 0;
        done += got;
    }
    return done == size;
}

// The updater's file as it is now (its name may lead elsewhere by now:
// what was read is checked before it is used). Heap; null when unreadable.
unsigned char *ReadOwnFile(const char *path, size_t *size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER length;
    unsigned char *bytes = nullptr;
    if (GetFileSizeEx(file, &length) && length.QuadPart > 0 && (unsigned long long)length.QuadPart <= IMAGE_MOST)
        bytes = (unsigned char *)malloc((size_t)length.QuadPart);
    *size = bytes ? (size_t)length.QuadPart : 0;
    if (bytes && !ReadWhole(file, bytes, *size)) {
        free(bytes);
        bytes = nullptr;
    }
    CloseHandle(file);
    return bytes;
}

// The bytes are the packaged updater: the manifest this process runs with,
// byte for byte, and everything else as the digest in it says.
int IsPackagedUpdater(const unsigned char *bytes, size_t size, const Manifest &own, const ManifestPlace &ownPlace)
{
    ManifestPlace place;
    unsigned char digest[SHA256_BYTES];
    return ImageFileDigest(bytes, size, &place, digest) && place.length == ownPlace.length &&
           memcmp(place.text, ownPlace.text, place.length) == 0 && memcmp(digest, own.updater, SHA256_BYTES) == 0;
}

// Copies the updater into the stage and checks the copy, read back through
// the handle that now holds it against writing.
int StageSelf(const char *path, const Manifest &own, const ManifestPlace &place, StagedRun *run)
{
    size_t size = 0;
    unsigned char *bytes = ReadOwnFile(path, &size);
    HANDLE held = INVALID_HANDLE_VALUE;
    int staged = 0;
    run->need = size;
    if (!bytes)
        Refuse(run, RESULT_BAD_PACKAGE);
    else if (!StageFits(size, &run->freeBytes))
        Refuse(run, RESULT_NO_SPACE);
    else if (StageBytes(PathLastComponent(path), bytes, size, &held) && ReadWhole(held, bytes, size) &&
             IsPackagedUpdater(bytes, size, own, place))
        staged = 1;
    else
        Refuse(run, RESULT_BAD_PACKAGE);
    free(bytes);
    return staged;
}

// A job that ends the copy when this process ends, killed or not, and
// nothing the copy starts.
HANDLE MakeJob(void)
{
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    memset(&limits, 0, sizeof(limits));
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    if (job && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        CloseHandle(job);
        job = nullptr;
    }
    return job;
}

// Starts exe with line, the stage's folder handle root inherited, and waits.
int StartCopy(const char *exe, char *line, int *exitCode)
{
    HANDLE job = MakeJob();
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessA(exe, line, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
        if (job)
            CloseHandle(job);
        return 0;
    }
    // A system that cannot nest jobs (before Windows 8, under a deployment
    // tool's job) runs the copy without one: a killed updater then leaves
    // it to finish its run.
    if (job)
        AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = (DWORD)RESULT_BAD_PACKAGE;
    GetExitCodeProcess(process.hProcess, &code);
    *exitCode = (int)code;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (job)
        CloseHandle(job);
    return 1;
}

// The copy's command line: its path, the hand-over, the user's line.
int HandOver(const char *exe, const char *cmdLine, const StagedRun *run, int *exitCode)
{
    char folder[MAX_PATH_BYTES];
    StrCopy(folder, sizeof(folder), StageRoot());
    folder[strlen(folder) - 1] = '\0';
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    HANDLE root = CreateFileA(folder, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (root == INVALID_HANDLE_VALUE)
        return 0;
    size_t size = strlen(exe) + strlen(run->srcFolder) + strlen(cmdLine) + sizeof(HANDOVER) + 16;
    char *line = (char *)malloc(size);
    int started = line && IsFolderHandleOfPath(root, folder);
    if (started) {
        snprintf(line, size, "\"%s\" %s%08lX \"%s\" %s", exe, HANDOVER, (unsigned long)(ULONG_PTR)root, run->srcFolder,
                 cmdLine);
        started = StartCopy(exe, line, exitCode);
    }
    free(line);
    CloseHandle(root);
    return started;
}

int RunCopy(const char *path, const char *cmdLine, const Manifest &own, const ManifestPlace &place, StagedRun *run,
            int *exitCode)
{
    char exe[MAX_PATH_BYTES];
    if (!OpenStage(run->srcFolder))
        return Refuse(run, RESULT_BAD_PACKAGE);
    int ran = StageSelf(path, own, place, run) &&
              ((JoinPath(exe, sizeof(exe), StageRoot(), PathLastComponent(path)) &&
                HandOver(exe, cmdLine, run, exitCode)) ||
               Refuse(run, RESULT_BAD_PACKAGE));
    CloseStage();
    return ran;
}

} // namespace

int RunFromStage(void *instance, const char *cmdLine, StagedRun *run, int *exitCode)
{
    memset(run, 0, sizeof(*run));
    run->cmdLine = cmdLine;
    GetModuleFolder(instance, run->srcFolder);
    char path[MAX_PATH_BYTES], folder[MAX_PATH_BYTES];
    Manifest own;
    ManifestPlace place;
    // A damaged manifest is the run's to refuse, in place.
    if (!ReadOwnManifest(instance, path, &own, &place)) {
        FreeManifest(&own);
        return 0;
    }
    HANDLE root = nullptr;
    const char *rest = nullptr;
    int handed = SplitHandover(cmdLine, &root, folder, &rest);
    int ran = 0;
    if (handed != 0) {
        run->cmdLine = handed > 0 ? rest : cmdLine;
        if (handed < 0 || !TakeHandover(run, root, folder))
            Refuse(run, RESULT_BAD_PACKAGE);
    } else {
        CommandLineOptions cl;
        memset(&cl, 0, sizeof(cl));
        ParseCommandLine(cmdLine, &cl);
        // Without administrator rights there is nothing to keep out, and
        // nowhere only administrators write; a dry run starts nothing, and
        // a malformed request for one is refused before anything is made.
        if (!cl.whatIf && !cl.whatIfRefused && !IsNotAdmin())
            ran = RunCopy(path, cmdLine, own, place, run, exitCode);
    }
    FreeManifest(&own);
    return ran;
}

void EnterStage(const StagedRun *run, CommandLineOptions *cl)
{
    if (!run->child)
        return;
    char full[MAX_PATH_BYTES];
    DWORD length = cl->dst[0] ? GetFullPathNameA(cl->dst, sizeof(full), full, nullptr) : 0;
    if (cl->dst[0] && (length == 0 || length >= sizeof(full) || !StrCopy(cl->dst, sizeof(cl->dst), full))) {
        cl->dst[0] = '\0';
        cl->dstTooLong = 1;
    }
    length = cl->result[0] ? GetFullPathNameA(cl->result, sizeof(full), full, nullptr) : 0;
    if (length > 0 && length < sizeof(full))
        StrCopy(cl->result, sizeof(cl->result), full);
    SetCurrentDirectoryA(StageRoot());
    SetEnvironmentVariableA(NO_CURRENT_FOLDER, "1");
}

void LeaveStage(const StagedRun *run)
{
    if (run->child)
        SetEnvironmentVariableA(NO_CURRENT_FOLDER, nullptr);
}
