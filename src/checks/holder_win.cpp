#include "checks/holder.h"

#include "base/strutil.h"

#include <windows.h>
#include <tlhelp32.h>

namespace {

// Whether process pid has path loaded; its program (the first module the
// system lists) goes to program.
int HasModule(DWORD pid, const char *path, char *program, size_t size)
{
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (modules == INVALID_HANDLE_VALUE)
        return 0;
    MODULEENTRY32 entry;
    entry.dwSize = sizeof(entry);
    int found = 0;
    for (BOOL more = Module32First(modules, &entry); more && !found; more = Module32Next(modules, &entry)) {
        if (!program[0])
            StrCopy(program, size, entry.szExePath);
        found = AsciiStricmp(entry.szExePath, path) == 0;
    }
    CloseHandle(modules);
    return found;
}

} // namespace

int FindModuleHolder(const char *path, unsigned long *pid, char *program, size_t size)
{
    *pid = 0;
    program[0] = '\0';
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (processes == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(processes, &entry); more && !*pid; more = Process32Next(processes, &entry)) {
        program[0] = '\0';
        if (entry.th32ProcessID != GetCurrentProcessId() && HasModule(entry.th32ProcessID, path, program, size))
            *pid = entry.th32ProcessID;
    }
    CloseHandle(processes);
    if (!*pid)
        program[0] = '\0';
    return *pid != 0;
}
