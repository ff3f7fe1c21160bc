#include "exec/addon.h"

#include "base/dllsearch.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "base/userbox.h"
#include "exec/plugincall.h"

#include <shlwapi.h>

#include <stdio.h>

namespace {

enum { STATUS_OK = 0, STATUS_UPDATE_FAILED = -1, STATUS_LOAD_FAILED = -2 };
enum { MESSAGE_BYTES = 1024, MAX_CRASHED = 16 };

// Plug-ins whose code faulted in this run. They stay loaded (unloading would
// run their detach code, under the loader's lock, in whatever state the
// fault left them) and are never called again.
HMODULE g_crashed[MAX_CRASHED];
int g_crashedCount = 0;

int HasCrashed(HMODULE module)
{
    for (int i = 0; i < g_crashedCount; i++) {
        if (g_crashed[i] == module)
            return 1;
    }
    return 0;
}

void NoteCrashed(HMODULE module)
{
    if (!HasCrashed(module) && g_crashedCount < MAX_CRASHED)
        g_crashed[g_crashedCount++] = module;
}

// Where a plug-in comes from, and where it may look for helpers of its own.
struct PlugInPlace {
    char updateFolder[MAX_PATH_BYTES];  // the updater's folder, or empty
    char path[MAX_PATH_BYTES];          // the plug-in in it, or empty
    char ownFolder[MAX_PATH_BYTES];     // that plug-in's folder, or empty
};

// A checked package's update runs from a verified copy of the updater in its
// stage, beside the verified copies of its plug-ins: the updater's folder is
// then the stage, and nobody else can add a library there.
void FindPlugIn(const char *dll, PlugInPlace *place)
{
    place->updateFolder[0] = place->path[0] = place->ownFolder[0] = '\0';
    char module[MAX_PATH_BYTES];
    if (GetModuleFileNameA(nullptr, module, sizeof(module)) >= sizeof(module) - 1)
        return;
    char *slash = MbsRChr(module, '\\');
    if (!slash)
        return;
    slash[1] = '\0';
    StrCopy(place->updateFolder, sizeof(place->updateFolder), module);
    if (!PathIsRelativeA(dll) || !StrCopy(place->path, sizeof(place->path), module) ||
        !StrAppend(place->path, sizeof(place->path), dll) ||
        GetFileAttributesA(place->path) == INVALID_FILE_ATTRIBUTES) {
        place->path[0] = '\0';
        return;
    }
    StrCopy(place->ownFolder, sizeof(place->ownFolder), place->path);
    place->ownFolder[PathLastComponent(place->ownFolder) - place->ownFolder] = '\0';
}

// The DLL search is restricted to the system folder at start-up, so that DLLs
// lying beside a downloaded update are never picked up by accident. A plug-in
// the script names is meant to come from the update's folder, though: look
// there first, by full path, and let the plug-in find its own companions
// beside it; otherwise only the system places are searched.
HMODULE LoadPlugIn(const char *dll, const PlugInPlace &place)
{
    if (!place.path[0])
        return LoadLibraryA(dll);
    // Its imports: beside it, the folders added while it runs, the system
    // folder; never the application folder as such (the default directories
    // would take it).
    HMODULE module = LoadLibraryExA(place.path, nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                                        LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without the restricted search know no such flags.
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExA(place.path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}

// While the plug-in loads and runs, the helpers it loads by name at run time
// are found in the update folder and beside the plug-in itself.
void WidenForPlugIn(const PlugInPlace &place, DllSearchWidening *widening)
{
    const char *folders[DLL_SEARCH_EXTRA_FOLDERS];
    int count = 0;
    if (place.updateFolder[0])
        folders[count++] = place.updateFolder;
    if (place.ownFolder[0] && AsciiStricmp(place.ownFolder, place.updateFolder) != 0)
        folders[count++] = place.ownFolder;
    WidenDllSearch(widening, folders, count);
}

// A fault that escapes the plug-in fails the command like a plug-in that
// reports a failed update: the destination may be half done, and the user
// is told which file. *keep is set for a plug-in that has faulted.
int CallEntry(HMODULE module, PlugInEntry entry, const char *src, const char *dst, int *keep)
{
    *keep = HasCrashed(module);
    if (*keep) {
        TracePrintf("\t\t\tnot called: it faulted earlier in this run\n");
        return STATUS_UPDATE_FAILED;
    }
    int status = STATUS_LOAD_FAILED;
    PlugInFault fault;
    if (CallPlugInGuarded(entry, src, dst, &status, &fault))
        return status;
    TracePrintf("\t\t\texception 0x%08X at %p in the plug-in; it stays loaded\n", (unsigned)fault.code,
                fault.address);
    NoteCrashed(module);
    *keep = 1;
    return STATUS_UPDATE_FAILED;
}

int CallPlugIn(const char *dll, const char *func, const char *src, const char *dst)
{
    int status = STATUS_LOAD_FAILED;
    if (!dll || !func)
        return status;
    PlugInPlace place;
    FindPlugIn(dll, &place);
    DllSearchWidening widening;
    WidenForPlugIn(place, &widening);
    HMODULE module = LoadPlugIn(dll, place);
    PlugInEntry entry = module ? (PlugInEntry)(void (*)(void))GetProcAddress(module, func) : nullptr;
    int keep = 0;
    if (entry)
        status = CallEntry(module, entry, src, dst, &keep);
    NarrowDllSearch(&widening);
    // A faulted plug-in keeps the reference it was loaded with.
    if (module && !keep)
        FreeLibrary(module);
    return status;
}

// Shown only after the plug-in is gone, so that it cannot hold a file the
// user might look at meanwhile.
void ReportStatus(int status, const char *dll, const char *dst, HWND dialog)
{
    const char *format = nullptr;
    const char *arg = nullptr;
    if (status == STATUS_LOAD_FAILED) {
        format = "'%s'の読み込みに失敗しました。";
        arg = dll ? dll : "";
    } else if (status == STATUS_UPDATE_FAILED) {
        format = "'%s'の更新に失敗しました。";
        arg = dst;
    }
    if (!format)
        return;
    char message[MESSAGE_BYTES];
    snprintf(message, sizeof(message), format, arg);
    UserBox(dialog, message, nullptr, MB_ICONERROR);
}

} // namespace

int AddOn(const char *src, const char *dst, const AddOnExtra *extra, HWND dialog)
{
    const char *dll = extra ? extra->dll : nullptr;
    const char *func = extra ? extra->func : nullptr;
    TracePrintf("\t\t[%s]>>\n", "AddOn");
    TracePrintf("\t\t\tsrc  = %s\n", src);
    TracePrintf("\t\t\tdst  = %s\n", dst);
    TracePrintf("\t\t\tdll  = %s\n", dll);
    TracePrintf("\t\t\tfunc = %s\n", func);
    int status = CallPlugIn(dll, func, src, dst);
    ReportStatus(status, dll, dst, dialog);
    int result = status == STATUS_OK ? 1 : 0;
    TracePrintf("\t\tbResult = %d\n", result);
    TracePrintf("\t\t[%s]<<\n", "AddOn");
    return result;
}
