#include "exec/addon.h"

// Not yet built: plug-in and program commands arrive with their own work.
int AddOn(const char *src, const char *dst, const AddOnExtra *extra, HWND dialog)
{
    (void)src;
    (void)dst;
    (void)extra;
    (void)dialog;
    return 0;
}

int Exec(const char *command, const char *dstFolder, const char *params, HWND dialog)
{
    (void)command;
    (void)dstFolder;
    (void)params;
    (void)dialog;
    return 0;
}
