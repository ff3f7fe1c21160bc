// The "exe" command (declared with the plug-in command in addon.h).
#include "exec/addon.h"

#include "base/runrecord.h"
#include "base/shellcalls.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "base/userbox.h"
#include "exec/stage.h"
#include "exec/update.h"

#include <string.h>

namespace {

// The parameters with "%DSTPATH%" replaced, in param (EXEC_TEXT_BUFFER bytes).
// 0 when they would not fit: a cut parameter list could name another file.
int ExpandParams(char *param, const char *params, const char *dstFolder)
{
    param[0] = '\0';
    if (!params)
        return 1;
    if (StrCopy(param, EXEC_TEXT_BUFFER, params) && ReplaceDstPath(param, EXEC_TEXT_BUFFER, dstFolder))
        return 1;
    param[0] = '\0';
    return 0;
}

// The expanded form is the one started, so that the traced command is the one
// run whether or not the shell would expand references by itself. 0 when the
// expansion does not fit: its text is then not to be used.
int ExpandCommand(const char *command, char *expanded)
{
    DWORD got = ExpandEnvironmentStringsA(command, expanded, EXEC_TEXT_BUFFER);
    TracePrintf("\t\t\tExpandEnvironmentStrings( )\t= %d\n", (int)got);
    if (got == 0 || got > EXEC_TEXT_BUFFER)
        return 0;
    TracePrintf("\t\t\tszCommandExpanded\t\t\t\t= %s\n", expanded);
    return 1;
}

int WaitForExitCode(HANDLE process)
{
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    BOOL got = GetExitCodeProcess(process, &code);
    TracePrintf("\t\t\t\tGetExitCodeProcess() = %s\n", got ? "TRUE" : "FALSE");
    if (!got)
        return 0;
    TracePrintf("\t\t\t\t\tExitCode= %d\n", (int)code);
    return code == 0 ? 1 : 0;
}

// folder: the current folder the program starts in (null: this process's).
int StartAndWait(const char *file, const char *param, const char *folder)
{
    SHELLEXECUTEINFOA info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    // Nobody is there to close the shell's own error box in an unattended
    // run; a failure then shows in the trace and the exit code only.
    if (IsUnattended())
        info.fMask |= SEE_MASK_FLAG_NO_UI;
    info.lpFile = file;
    info.lpParameters = param;
    info.lpDirectory = folder;
    info.nShow = SW_SHOWNORMAL;
    TracePrintf("\t\t\tShellExecuteEx = ");
    BOOL started = ShellExecuteExAnsi(&info);
    if (!started)
        RecordError(GetLastError());
    TracePrintf("%d\n", started);
    if (!started)
        return 0;
    // The shell may hand the file to a program already running: nothing to
    // wait for then.
    if (!info.hProcess)
        return 1;
    int result = WaitForExitCode(info.hProcess);
    CloseHandle(info.hProcess);
    return result;
}

} // namespace

int Exec(const char *command, const char *dstFolder, const char *params, HWND dialog)
{
    (void)dialog;
    TracePrintf("\t\t[%s]>>\n", "Exec");
    TracePrintf("\t\t\tcommand\t= %s\n", command);
    TracePrintf("\t\t\tdst\t\t= %s\n", dstFolder);
    TracePrintf("\t\t\tparam\t\t= %s\n", params);
    char param[EXEC_TEXT_BUFFER];
    char expanded[EXEC_TEXT_BUFFER];
    int result = 0;
    if (!ExpandParams(param, params, dstFolder)) {
        TracePrintf("\t\t\tszParamExpanded: longer than %d bytes\n", EXEC_TEXT_BUFFER - 1);
    } else {
        TracePrintf("\t\t\tszParamExpanded\t\t= %s\n", param);
        // A checked package's program starts from its verified copy, in its
        // folder: what it loads or starts by name from beside itself or from
        // its current folder is listed.
        char staged[EXEC_TEXT_BUFFER], folder[EXEC_TEXT_BUFFER];
        if (ExpandCommand(command, expanded)) {
            int fromStage = StagedPath(expanded, staged, sizeof(staged)) && StrCopy(folder, sizeof(folder), staged);
            if (fromStage)
                folder[PathLastComponent(folder) - folder] = '\0';
            result = StartAndWait(fromStage ? staged : expanded, param, fromStage ? folder : nullptr);
        }
    }
    TracePrintf("\t\tbResult = %d\n", result);
    TracePrintf("\t\t[%s]<<\n", "Exec");
    return result;
}
