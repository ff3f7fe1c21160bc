// LumiupdCheck [--strict] SCRIPT [UPDATE_FOLDER]: tells a release engineer what the
// updater will make of an update script before it ships.
#include "checker.h"

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    CheckArgs args;
    int usage = ParseCheckArgs(argc, argv, "LumiupdCheck", &args);
    if (usage >= 0)
        return usage;
    int result = RunScriptCheck(args.script, args.folder, stdout, args.strict);
    fflush(stdout);
    return result;
}
