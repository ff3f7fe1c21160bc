#include "exec/shortcut.h"

// Not yet built: the shortcut command arrives with its own work.
int Shortcut(const char *path, const char *folder, const char *file)
{
    (void)path;
    (void)folder;
    (void)file;
    return 0;
}
