// LumiupdCheck SCRIPT [UPDATE_FOLDER]: tells a release engineer what the
// updater will make of an update script before it ships.
#include "checker.h"

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3 || strcmp(argv[1], "/?") == 0 || strcmp(argv[1], "-h") == 0) {
        fprintf(stderr,
                "usage: LumiupdCheck SCRIPT [UPDATE_FOLDER]\n"
                "  exit 0: the updater accepts the script, 1: it refuses it, 2: nothing could be checked\n");
        return CHECK_UNREADABLE;
    }
    int result = RunScriptCheck(argv[1], argc > 2 ? argv[2] : nullptr, stdout);
    fflush(stdout);
    return result;
}
