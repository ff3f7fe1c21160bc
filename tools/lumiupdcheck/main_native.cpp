// lumiupd-check [--strict] SCRIPT [UPDATE_FOLDER]: the script checker as a command of a
// Linux build machine. It checks exactly as LumiupdCheck.exe does, in code
// page 932, and shows the result in UTF-8. With --verify FOLDER it checks a
// packaged folder against the manifest in its updater; --write-manifest
// FOLDER is make package's step that writes it. --result FILE shows a run's
// result file or a dry run's report.
#include "checker.h"
#include "manifest.h"
#include "resultview.h"
#include "utf8out.h"

#include "base/strutil.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// A path given on the command line, in code page 932 as the checker works.
int ToCp932Path(const char *given, char *path)
{
    if (Utf8ToCp932(given, path, MAX_PATH_BYTES))
        return 1;
    fprintf(stderr, "%s: error: the path has no code page 932 form of at most %d bytes\n", given, MAX_PATH_BYTES - 1);
    return 0;
}

struct Job {
    const char *option;  // --verify, --write-manifest, or null for the script check
    const char *script, *folder;
    int strict;
};

int RunJob(const Job &job, FILE *report)
{
    if (!job.option)
        return RunScriptCheck(job.script, job.folder, report, job.strict);
    return strcmp(job.option, "--verify") == 0 ? VerifyPackage(job.folder, report)
                                                : WritePackageManifest(job.folder, report);
}

// The job's report, written in code page 932, shown in UTF-8.
int Report(const Job &job)
{
    char *text = nullptr;
    size_t length = 0;
    FILE *report = open_memstream(&text, &length);
    if (!report)
        return CHECK_UNREADABLE;
    int result = RunJob(job, report);
    fclose(report);
    WriteCp932AsUtf8(text, length, stdout);
    free(text);
    fflush(stdout);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    char paths[2][MAX_PATH_BYTES];
    // Both files are UTF-8 already: nothing of code page 932 on the way.
    if (argc == 3 && strcmp(argv[1], "--result") == 0)
        return ShowResultFile(argv[2], stdout);
    if (argc == 3 && (strcmp(argv[1], "--verify") == 0 || strcmp(argv[1], "--write-manifest") == 0))
        return ToCp932Path(argv[2], paths[1]) ? Report({argv[1], nullptr, paths[1], 0}) : CHECK_UNREADABLE;
    CheckArgs args;
    int usage = ParseCheckArgs(argc, argv, "lumiupd-check", &args);
    if (usage >= 0)
        return usage;
    if (!ToCp932Path(args.script, paths[0]) || (args.folder && !ToCp932Path(args.folder, paths[1])))
        return CHECK_UNREADABLE;
    return Report({nullptr, paths[0], args.folder ? paths[1] : nullptr, args.strict});
}
