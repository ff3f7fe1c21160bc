// The progress dialog: the current command's source and destination and a
// bar with one step per command and destination. Modeless, no buttons.
#pragma once

#include "ui/resource.h"

#include <windows.h>

// Sent to the dialog; the texts are copied before the call returns.
enum { WM_UPDATE_PROGRESS = WM_USER + 1 };
enum { PROGRESS_SOURCE = 0, PROGRESS_DESTINATION = 1, PROGRESS_STEP = 2 };

// The init parameter is the number of steps (its low 16 bits become the range).
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Draws a label's text on one line, shortened in the middle to keep the file name.
LRESULT CALLBACK PathEllipsisLabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Paints the whole dialog, frame and controls, before returning. Done at
// every WM_UPDATE_PROGRESS; the creator calls it once the dialog shows.
void DrawProgressDialog(HWND dialog);
// Keep the previous procedure in the window's user data slot.
int SubclassWindow(HWND window, WNDPROC procedure);
int UnsubclassWindow(HWND window);
// Centres window on reference, or on the desktop when reference is null.
void CenterWindow(HWND window, HWND reference);
