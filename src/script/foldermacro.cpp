#include "script/foldermacro.h"

// Not yet built: folder macros arrive with the update script work.
int FolderMacro(int notAdmin, char *buffer)
{
    (void)notAdmin;
    (void)buffer;
    return 0;
}

int IsNotAdmin(void)
{
    return 1;
}
