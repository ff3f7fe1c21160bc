// Plug-in ("dll") and program ("exe") commands.
#pragma once

#include "script/script.h"

#include <windows.h>

int AddOn(const char *src, const char *dst, const AddOnExtra *extra, HWND dialog);
// params may be null (the script line gave none).
int Exec(const char *command, const char *dstFolder, const char *params, HWND dialog);
