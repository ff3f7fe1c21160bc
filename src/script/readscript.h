// Reads the update script that lies beside the executable (same base name,
// extension ".INF") into an UpdateScript set up by InitUpdateScript.
#pragma once

#include "script/script.h"

// module: the running executable's module handle (HMODULE). 1 = read; 0 = the
// script is missing or a line was rejected (the record keeps what was parsed).
int ReadUpdateScript(void *module, UpdateScript *script);
// Reads the script through an open file handle (HANDLE, read from its
// start): the very file that was checked, not whatever its name leads to
// by then. The handle stays open.
int ReadScriptThrough(void *handle, UpdateScript *script);
// The script's path (MAX_PATH_BYTES): 0 when the module's path has none.
int UpdateScriptPath(void *module, char *path);
