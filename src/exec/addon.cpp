#include "exec/addon.h"

#include "base/tracelog.h"

#include <stdio.h>

namespace {

typedef int(WINAPI *PlugInEntry)(const char *src, const char *dst);

enum { STATUS_OK = 0, STATUS_UPDATE_FAILED = -1, STATUS_LOAD_FAILED = -2 };
enum { MESSAGE_BYTES = 1024 };

HMODULE LoadPlugIn(const char *dll)
{
    return LoadLibraryA(dll);
}

int CallPlugIn(const char *dll, const char *func, const char *src, const char *dst)
{
    int status = STATUS_LOAD_FAILED;
    HMODULE module = (dll && func) ? LoadPlugIn(dll) : nullptr;
    if (!module)
        return status;
    PlugInEntry entry = (PlugInEntry)(void (*)(void))GetProcAddress(module, func);
    if (entry)
        status = entry(src, dst);
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
    MessageBoxA(dialog, message, nullptr, MB_ICONERROR);
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
