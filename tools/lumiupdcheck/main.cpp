// LumiupdCheck [--strict] SCRIPT [UPDATE_FOLDER]: tells a release engineer what the
// updater will make of an update script before it ships.
#include "checker.h"

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    CheckArgs args;
    CheckArgsResult parsed = ParseCheckArgs(argc, argv, &args);
    if (parsed != CHECK_ARGS_OK) {
        PrintCheckUsage(parsed == CHECK_ARGS_HELP ? stdout : stderr, "LumiupdCheck");
        return parsed == CHECK_ARGS_HELP ? CHECK_ACCEPTED : CHECK_UNREADABLE;
    }
    int result = RunScriptCheck(args.script, args.folder, stdout, args.strict);
    fflush(stdout);
    return result;
}
