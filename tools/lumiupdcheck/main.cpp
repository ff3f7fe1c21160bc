// LumiupdCheck [--strict] SCRIPT [UPDATE_FOLDER]: tells a release engineer what the
// updater will make of an update script before it ships.
#include "checker.h"

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    // The updater checks its own folder on Windows; a second SHA-256 here
    // would be one more implementation to keep in agreement with it.
    if (argc > 1 && (strcmp(argv[1], "--verify") == 0 || strcmp(argv[1], "--write-manifest") == 0)) {
        fprintf(stderr, "LumiupdCheck: %s is done by lumiupd-check, the checker of the build machine (make release "
                        "puts it in build/release/); on Windows the updater verifies its folder itself\n",
                argv[1]);
        return CHECK_UNREADABLE;
    }
    CheckArgs args;
    int usage = ParseCheckArgs(argc, argv, "LumiupdCheck", &args);
    if (usage >= 0)
        return usage;
    int result = RunScriptCheck(args.script, args.folder, stdout, args.strict);
    fflush(stdout);
    return result;
}
