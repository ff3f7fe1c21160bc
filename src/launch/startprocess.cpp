#include "launch/startprocess.h"

#include "base/strutil.h"
#include "base/tracelog.h"

#include <windows.h>
#include <shlwapi.h>
#include <string.h>
#include <wchar.h>

namespace {

enum { COMMAND_LINE_CHARS = 2048 };
const DWORD PRIMARY_TOKEN_ACCESS = TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE |
                                   TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;

void TraceFailed(void)
{
    TracePrintf("failed. [%d]\n", (int)GetLastError());
}

// A primary copy of the token of the process that owns the shell window, or
// null with the code of the step that failed in *code.
HANDLE ShellUserToken(int *code)
{
    TracePrintf("\tGetShellWindow() ");
    HWND shell = GetShellWindow();
    if (!shell) {
        TracePrintf("failed.\n");
        *code = START_NO_SHELL;
        return nullptr;
    }
    TracePrintf("succeeded. [%p]\n", (void *)shell);
    TracePrintf("\tGetWindowThreadProcessId(%p)\n", (void *)shell);
    DWORD pid = 0;
    GetWindowThreadProcessId(shell, &pid);
    TracePrintf("\tPID = %u\n", (unsigned)pid);

    TracePrintf("\tOpenProcess(PROCESS_QUERY_INFORMATION, FALSE, %u) ", (unsigned)pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) {
        TraceFailed();
        *code = START_NO_SHELL_PROCESS;
        return nullptr;
    }
    TracePrintf("succeeded. [%p]\n", (void *)process);

    TracePrintf("\tOpenProcessToken(%p, TOKEN_DUPLICATE) ", (void *)process);
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_DUPLICATE, &token)) {
        TraceFailed();
        CloseHandle(process);
        *code = START_NO_SHELL_TOKEN;
        return nullptr;
    }
    TracePrintf("succeeded. [%p]\n", (void *)token);

    TracePrintf("\tDuplicateTokenEx(%p, TOKEN_QUERY|TOKEN_ASSIGN_PRIMARY|TOKEN_DUPLICATE|"
                "TOKEN_ADJUST_DEFAULT|TOKEN_ADJUST_SESSIONID, NULL, SecurityImpersonation, TokenPrimary) ",
                (void *)token);
    HANDLE primary = nullptr;
    if (!DuplicateTokenEx(token, PRIMARY_TOKEN_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                          &primary)) {
        TraceFailed();
        CloseHandle(token);
        CloseHandle(process);
        *code = START_NO_DUPLICATE_TOKEN;
        return nullptr;
    }
    TracePrintf("succeeded. [%p]\n", (void *)primary);
    CloseHandle(token);
    CloseHandle(process);
    return primary;
}

// The program's folder without a trailing backslash (a root keeps it), and
// the command line quoted when it holds a space.
void PrepareCommand(WCHAR *commandLine, WCHAR *workDir)
{
    const WCHAR *name = PathFindFileNameW(commandLine);
    size_t dirChars = (size_t)(name - commandLine);
    if (dirChars >= MAX_PATH_BYTES)
        dirChars = 0;
    memcpy(workDir, commandLine, dirChars * sizeof(WCHAR));
    workDir[dirChars] = L'\0';
    PathRemoveBackslashW(workDir);
    PathQuoteSpacesW(commandLine);
    // The shell helper quotes nothing near the path limit; an unquoted path
    // with a space could start a program from a shorter prefix of it.
    size_t len = wcslen(commandLine);
    if (wcschr(commandLine, L' ') && commandLine[0] != L'"' && len + 3 <= COMMAND_LINE_CHARS) {
        memmove(commandLine + 1, commandLine, (len + 1) * sizeof(WCHAR));
        commandLine[0] = L'"';
        commandLine[len + 1] = L'"';
        commandLine[len + 2] = L'\0';
    }
}

// The wide texts go to the trace as text of the system's code page: the
// runtime's "%S" converts them in its "C" locale and stops at the first
// character outside ASCII, which would cut off a Japanese folder name.
void TraceCreateProcess(HANDLE primary, const WCHAR *commandLine, const WCHAR *workDir)
{
    char line[COMMAND_LINE_CHARS * 2];
    char dir[MAX_PATH_BYTES * 2];
    if (!WideCharToMultiByte(CP_ACP, 0, commandLine, -1, line, sizeof(line), nullptr, nullptr))
        line[0] = '\0';
    if (!WideCharToMultiByte(CP_ACP, 0, workDir, -1, dir, sizeof(dir), nullptr, nullptr))
        dir[0] = '\0';
    TracePrintf("\tCreateProcessWithTokenW(%p, 0, NULL, \"%s\", 0, NULL, \"%s\") ", (void *)primary, line, dir);
}

} // namespace

int StartProcess(const char *command)
{
    TracePrintf("%s(\"%s\")\n", "StartProcess", command);
    int code = START_OK;
    HANDLE primary = ShellUserToken(&code);
    if (!primary)
        return code;

    WCHAR commandLine[COMMAND_LINE_CHARS];
    WCHAR workDir[MAX_PATH_BYTES];
    commandLine[0] = L'\0';
    MultiByteToWideChar(CP_ACP, 0, command, -1, commandLine, COMMAND_LINE_CHARS);
    PrepareCommand(commandLine, workDir);

    TraceCreateProcess(primary, commandLine, workDir);
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started;
    memset(&started, 0, sizeof(started));
    if (!CreateProcessWithTokenW(primary, 0, nullptr, commandLine, 0, nullptr, workDir, &startup,
                                 &started)) {
        TraceFailed();
        CloseHandle(primary);
        return START_CREATE_FAILED;
    }
    TracePrintf("succeeded.\n");
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    CloseHandle(primary);
    TracePrintf("%s() succeeded.\n", "StartProcess");
    return START_OK;
}
