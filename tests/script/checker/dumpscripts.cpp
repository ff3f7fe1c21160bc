// checker_scripts FOLDER: writes every script the checker tests write into
// FOLDER (one NN_name.INF each), for the test that runs both checkers on them.
#include "checkercases.h"
#include "testutil.h"

#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: checker_scripts FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    if (folder.back() != '\\')
        folder += '\\';
    int number = 0;
    for (const auto &script : AllCheckerScripts()) {
        std::string name = script.first;
        for (char &c : name)
            c = (c == ' ' || c == '\\' || c == '/') ? '_' : c;
        char prefix[16];
        snprintf(prefix, sizeof(prefix), "%03d_", ++number);
        if (!WriteFileBytes(folder + prefix + name + ".INF", script.second)) {
            fprintf(stderr, "cannot write %s%s%s.INF\n", folder.c_str(), prefix, name.c_str());
            return 1;
        }
    }
    printf("%d\n", number);
    return 0;
}
