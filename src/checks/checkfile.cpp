#include "checks/checkfile.h"

#include "base/runrecord.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "checks/checkrules.h"
#include "checks/holder.h"
#include "script/script.h"

#include <windows.h>

const char APP_WINDOW_CLASS[] = "LumitelShadowWindowClass";

namespace {

// A folder and a script line are each at most 260 bytes.
enum { PROBE_BYTES = 2 * MAX_PATH_BYTES };

// The application is never asked to end: it only gets time to do so.
void WaitForRunningApp(void)
{
    HWND wnd = FindWindowA(APP_WINDOW_CLASS, nullptr);
    if (!wnd)
        return;
    TracePrintf("\t\t\t\"%s\" is running\n", APP_WINDOW_CLASS);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    TracePrintf("\t\t\tProcessId = %d \n", (int)pid);
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (!process)
        return;
    DWORD waited = WaitForSingleObject(process, APP_WAIT_MS);
    TracePrintf("\t\t\t\tWaitForSingleObject(hProcess, 15000 ) = %d\n", (int)waited);
    CloseHandle(process);
}

// 1 when the module can be written or is not there to be held; 0 when another
// process holds it so that it cannot be written.
int ProbeModule(const char *folder, const char *filename)
{
    char probe[PROBE_BYTES];
    // Cannot happen with the bounds above; a name that cannot be built cannot
    // be opened either, and so is not held.
    if (!StrCopy(probe, sizeof(probe), folder) || !StrAppend(probe, sizeof(probe), filename)) {
        TracePrintf("\t\t\tNot Exist.\n");
        return 1;
    }
    HANDLE file = CreateFileA(probe, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        TracePrintf("\t\t\tOK!\n");
        CloseHandle(file);
        return 1;
    }
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        TracePrintf("\t\t\tdwError = %d\n", (int)error);
        return 0;
    }
    TracePrintf("\t\t\tNot Exist.\n");
    return 1;
}

// The run's record names the first held module and, where the system tells
// it, the process that has it loaded; a run without a record asks nothing.
void NoteHeld(const char *folder, const char *filename)
{
    char path[PROBE_BYTES];
    if (!GetRunRecord()->on || !StrCopy(path, sizeof(path), folder) || !StrAppend(path, sizeof(path), filename))
        return;
    unsigned long pid = 0;
    char program[MAX_PATH_BYTES];
    FindModuleHolder(path, &pid, program, sizeof(program));
    RecordHeld(path, pid, program);
}

int CheckFolder(const char *folder, const PtrList *commands, ModuleSeen seen, void *data)
{
    int bResult = 1;
    for (PtrNode *cursor = PtrListFirst(commands); cursor;) {
        const FileEntry *entry = (const FileEntry *)PtrListNextData(&cursor);
        int flag = IsModuleName(entry->filename);
        TracePrintf("\t\tpFile->filename = %s, act = %d, flag = %d\n", entry->filename, entry->act,
                    flag);
        if (entry->act != ACT_COPY || !flag) {
            TracePrintf("\t\t\tNot Module\n");
            continue;
        }
        if (!seen)
            WaitForRunningApp();
        int held = !ProbeModule(folder, entry->filename);
        if (held)
            NoteHeld(folder, entry->filename);
        if (!seen) {
            if (held)
                return 0;
            continue;
        }
        seen(data, folder, entry->filename, held);
        if (held)
            bResult = 0;
    }
    return bResult;
}

} // namespace

int CheckFile(const PtrList *dsts, const PtrList *commands)
{
    return CheckFileEach(dsts, commands, nullptr, nullptr);
}

int CheckFileEach(const PtrList *dsts, const PtrList *commands, ModuleSeen seen, void *data)
{
    TracePrintf("\t[%s]>>\n", "CheckFile");
    int bResult = 1;
    for (PtrNode *cursor = PtrListFirst(dsts); cursor;) {
        if (!CheckFolder((const char *)PtrListNextData(&cursor), commands, seen, data)) {
            bResult = 0;
            if (!seen)
                break;
        }
    }
    TracePrintf("\tbResult = %d\n", bResult);
    TracePrintf("\t[%s]<<\n", "CheckFile");
    return bResult;
}
