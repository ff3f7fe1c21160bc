#include "script/readscript.h"

#include "base/runrecord.h"
#include "base/strutil.h"
#include "script/parser.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

int UpdateScriptPath(void *module, char *path)
{
    memset(path, 0, MAX_PATH_BYTES);
    DWORD length = GetModuleFileNameA((HMODULE)module, path, MAX_PATH_BYTES);
    // A cut module path names some other file; it is no script's location.
    if (length == 0 || length >= MAX_PATH_BYTES)
        return 0;
    return ScriptPathFromModulePath(path, MAX_PATH_BYTES);
}

namespace {

// Counts the script's lines (a cut piece of a long line is no line of its
// own) and notes the one that refuses the script in the run's record; the
// read stops there, as it does without a sink.
int NoteRejectedLine(const char *raw, size_t rawLength, const ScriptLineReport *report, void *context)
{
    long *line = (long *)context;
    if (IsRejectedLine(report->outcome)) {
        char text[SCRIPT_LINE_BUFFER];
        size_t n = 0;
        while (n < rawLength && n < sizeof(text) - 1 && raw[n] && raw[n] != '\r' && raw[n] != '\n')
            n++;
        memcpy(text, raw, n);
        text[n] = '\0';
        RecordScriptLine(*line, text);
        return 0;
    }
    if (rawLength > 0 && raw[rawLength - 1] == '\n')
        ++*line;
    return 1;
}

} // namespace

int ReadUpdateScript(void *module, UpdateScript *script)
{
    char path[MAX_PATH_BYTES];
    long line = 1;
    return UpdateScriptPath(module, path) && ReadScriptFileEx(path, script, NoteRejectedLine, &line);
}

int ReadScriptThrough(void *handle, UpdateScript *script)
{
    // A second handle of the same open file: the runtime closes it with its
    // stream. Text mode, as the script is read by name.
    HANDLE own = nullptr;
    HANDLE process = GetCurrentProcess();
    if (SetFilePointer((HANDLE)handle, 0, nullptr, FILE_BEGIN) != 0 ||
        !DuplicateHandle(process, (HANDLE)handle, process, &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return 0;
    int descriptor = _open_osfhandle((intptr_t)own, _O_RDONLY | _O_TEXT);
    FILE *file = descriptor >= 0 ? _fdopen(descriptor, "rt") : nullptr;
    if (!file) {
        if (descriptor >= 0)
            _close(descriptor);
        else
            CloseHandle(own);
        return 0;
    }
    int read = ReadScriptStream(file, script);
    fclose(file);
    return read;
}
