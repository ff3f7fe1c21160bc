// Calling a plug-in's entry point so that a fault inside it ends the call
// instead of the updater.
#pragma once

#include <windows.h>

typedef int(WINAPI *PlugInEntry)(const char *src, const char *dst);

struct PlugInFault {
    DWORD code;      // the exception code, e.g. 0xC0000005 for an access violation
    void *address;   // where it was raised
};

// Calls entry(src, dst) and stores its return value in *status: 1. When an
// exception escapes the plug-in (one that its own handlers leave alone), the
// call is abandoned at that point and its stack dropped, *fault tells what
// was raised, and the result is 0; none of the plug-in's code runs after it.
int CallPlugInGuarded(PlugInEntry entry, const char *src, const char *dst, int *status, PlugInFault *fault);
