// lumiupd-check SCRIPT [UPDATE_FOLDER]: the script checker as a command of a
// Linux build machine. It checks exactly as LumiupdCheck.exe does, in code
// page 932, and shows the result in UTF-8.
#include "checker.h"
#include "utf8out.h"

#include "base/strutil.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

int Usage()
{
    fprintf(stderr,
            "usage: lumiupd-check SCRIPT [UPDATE_FOLDER]\n"
            "  exit 0: the updater accepts the script, 1: it refuses it, 2: nothing could be checked\n");
    return CHECK_UNREADABLE;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)
        return Usage();
    char paths[2][MAX_PATH_BYTES];
    for (int i = 1; i < argc; i++) {
        if (!Utf8ToCp932(argv[i], paths[i - 1], sizeof(paths[i - 1]))) {
            fprintf(stderr, "%s: error: the path has no code page 932 form of at most %d bytes\n", argv[i],
                    MAX_PATH_BYTES - 1);
            return CHECK_UNREADABLE;
        }
    }
    char *text = nullptr;
    size_t length = 0;
    FILE *report = open_memstream(&text, &length);
    if (!report)
        return CHECK_UNREADABLE;
    int result = RunScriptCheck(paths[0], argc > 2 ? paths[1] : nullptr, report);
    fclose(report);
    WriteCp932AsUtf8(text, length, stdout);
    free(text);
    fflush(stdout);
    return result;
}
