#include "exec/copysource.h"

#include "base/ptrlist.h"
#include "base/strutil.h"

#include <stdlib.h>
#include <string.h>

namespace {

struct CheckedSource {
    HANDLE held;
    char path[1];  // as long as it needs
};

PtrList *g_sources = nullptr;

HANDLE FindChecked(const char *path)
{
    for (PtrNode *cursor = PtrListFirst(g_sources); cursor;) {
        const CheckedSource *source = (const CheckedSource *)PtrListNextData(&cursor);
        if (AsciiStricmp(source->path, path) == 0)
            return source->held;
    }
    return nullptr;
}

} // namespace

int AddCheckedSource(const char *path, HANDLE held)
{
    size_t length = strlen(path);
    CheckedSource *source = (CheckedSource *)malloc(sizeof(CheckedSource) + length);
    if (!g_sources)
        g_sources = PtrListCreate();
    if (!source || !g_sources || !PtrListAppend(g_sources, source)) {
        free(source);
        return 0;
    }
    source->held = held;
    memcpy(source->path, path, length + 1);
    return 1;
}

HANDLE OpenCopySource(const char *path, DWORD share, DWORD flags)
{
    HANDLE held = FindChecked(path);
    if (!held)
        return CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr);
    // The same open file: reading moves its position, which starts over here.
    HANDLE process = GetCurrentProcess();
    HANDLE source = INVALID_HANDLE_VALUE;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!DuplicateHandle(process, held, process, &source, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return INVALID_HANDLE_VALUE;
    if (SetFilePointerEx(source, zero, nullptr, FILE_BEGIN))
        return source;
    CloseHandle(source);
    return INVALID_HANDLE_VALUE;
}

void ForgetCheckedSources(void)
{
    PtrListFreeStrings(g_sources);
    g_sources = nullptr;
}
