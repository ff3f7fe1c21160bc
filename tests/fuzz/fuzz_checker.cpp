// The script checker on arbitrary script bytes: the updater's reader and
// parser under it, the checker's byte rules and its summary. Its verdict must
// be the parser's own.
#include "checker.h"
#include "checkfs.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

// No update folder is given here, so the folder is never looked at.
PathKind KindOfPath(const char *)
{
    return PATH_MISSING;
}

int WalkFolderFiles(const char *, FolderFileVisitor, void *)
{
    return 0;
}

int WalkFolderFilesEx(const char *, FolderFileVisitor, FolderLinkVisitor, void *)
{
    return 0;
}

// The script as the parser below reads it natively (no text-mode translation),
// so that the two verdicts compare.
FILE *OpenCheckedFile(const char *path, const char *mode)
{
    return fopen(path, mode);
}

void ShownPath(char *out, size_t size, const char *folder, const char *file)
{
    snprintf(out, size, "%s%s", folder, file);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char path[64];
    static FILE *sink;
    if (!sink) {
        snprintf(path, sizeof(path), "/tmp/fuzz_checker_%d.INF", (int)getpid());
        sink = fopen("/dev/null", "w");
    }
    FILE *file = fopen(path, "wb");
    if (!file || !sink)
        abort();
    fwrite(data, 1, size, file);
    fclose(file);
    int verdict = RunScriptCheck(path, nullptr, sink, 0);
    UpdateScript script;
    if (!InitUpdateScript(&script))
        abort();
    int read = ReadScriptFile(path, &script);
    FreeUpdateScript(&script);
    if (verdict != (read ? CHECK_ACCEPTED : CHECK_REFUSED))
        abort();
    return 0;
}
