// Reading the updater's progress dialog from another thread or process.
#pragma once

#include <windows.h>

#include <string>

struct ProgressReading {
    std::string caption;
    std::string source;
    std::string destination;
    int position = -1;
    int low = -1;
    int high = -1;
};

// The progress dialog of a process (a dialog holding a progress bar), or null.
HWND FindProgressDialog(DWORD pid);
// Sent messages are only answered while the dialog's thread pumps (a copy or
// a message box): the reading waits up to two seconds for each answer.
ProgressReading ReadProgress(HWND dialog);
