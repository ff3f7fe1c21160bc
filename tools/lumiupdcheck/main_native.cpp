// lumiupd-check [--strict] SCRIPT [UPDATE_FOLDER]: the script checker as a command of a
// Linux build machine. It checks exactly as LumiupdCheck.exe does, in code
// page 932, and shows the result in UTF-8. With --verify FOLDER it checks a
// packaged folder against the manifest in its updater; --write-manifest
// FOLDER is make package's step that writes it.
#include "checker.h"
#include "manifest.h"
#include "utf8out.h"

#include "base/strutil.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

int RunPackageCommand(const char *option, const char *given)
{
    char folder[MAX_PATH_BYTES];
    if (!Utf8ToCp932(given, folder, sizeof(folder))) {
        fprintf(stderr, "%s: error: the path has no code page 932 form of at most %d bytes\n", given,
                MAX_PATH_BYTES - 1);
        return CHECK_UNREADABLE;
    }
    char *text = nullptr;
    size_t length = 0;
    FILE *report = open_memstream(&text, &length);
    if (!report)
        return CHECK_UNREADABLE;
    int result = strcmp(option, "--verify") == 0 ? VerifyPackage(folder, report) : WritePackageManifest(folder, report);
    fclose(report);
    WriteCp932AsUtf8(text, length, stdout);
    free(text);
    fflush(stdout);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && (strcmp(argv[1], "--verify") == 0 || strcmp(argv[1], "--write-manifest") == 0))
        return RunPackageCommand(argv[1], argv[2]);
    CheckArgs args;
    int usage = ParseCheckArgs(argc, argv, "lumiupd-check", &args);
    if (usage >= 0)
        return usage;
    const char *given[2] = {args.script, args.folder};
    char paths[2][MAX_PATH_BYTES];
    for (int i = 0; i < 2 && given[i]; i++) {
        if (!Utf8ToCp932(given[i], paths[i], sizeof(paths[i]))) {
            fprintf(stderr, "%s: error: the path has no code page 932 form of at most %d bytes\n", given[i],
                    MAX_PATH_BYTES - 1);
            return CHECK_UNREADABLE;
        }
    }
    char *text = nullptr;
    size_t length = 0;
    FILE *report = open_memstream(&text, &length);
    if (!report)
        return CHECK_UNREADABLE;
    int result = RunScriptCheck(paths[0], args.folder ? paths[1] : nullptr, report, args.strict);
    fclose(report);
    WriteCp932AsUtf8(text, length, stdout);
    free(text);
    fflush(stdout);
    return result;
}
