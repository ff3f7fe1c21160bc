// Plug-in ("dll") and program ("exe") commands.
#pragma once

#include "script/script.h"

#include <windows.h>

// Calls extra->func of the plug-in extra->dll with (src, dst); the plug-in is
// loaded for this call only. 1 when it returned 0.
int AddOn(const char *src, const char *dst, const AddOnExtra *extra, HWND dialog);
// Starts command through the shell with params ("%DSTPATH%" replaced; may be
// null when the script line gave none) and waits for it. 1 when it ended with
// exit code 0, or when the shell gave no process to wait for.
int Exec(const char *command, const char *dstFolder, const char *params, HWND dialog);
