// Starts the post-update program with the desktop user's token.
#pragma once

enum {
    START_OK = 0,
    START_NO_SHELL = -1,
    START_NO_SHELL_PROCESS = -2,
    START_NO_SHELL_TOKEN = -3,
    START_NO_DUPLICATE_TOKEN = -4,
    START_CREATE_FAILED = -5
};

// command: the program's path, without arguments. One of the codes above;
// every handle taken on the way is closed before it returns.
int StartProcess(const char *command);
