// One update run, from the trace log's start to the result code.
#pragma once

// instance: the updater's module (HINSTANCE); cmdLine: the command line
// without the program's own path. Returns nResult, the process exit code.
int RunUpdate(void *instance, const char *cmdLine);

// The folder of the given module, with a trailing backslash (260 bytes).
void GetModuleFolder(void *module, char *folder);
