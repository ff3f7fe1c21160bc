// Every message box of the run goes through here, so that an unattended
// run (a deployment tool's: nobody is there to answer) shows none of them.
#pragma once

#include <windows.h>

// From now on boxes are not shown: each takes the answer that changes the
// least (No, Abort, OK) and is noted in the trace instead.
void SetUnattended(int unattended);
int IsUnattended(void);

// MessageBoxA, or in an unattended run the answer that it would have been
// given by nobody.
int UserBox(HWND owner, const char *text, const char *caption, UINT type);
