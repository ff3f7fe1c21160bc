// Starts the post-update program with the desktop user's token.
#pragma once

// 0 = started; -1 no shell window, -2 shell process, -3 its token,
// -4 duplicate token, -5 start failed.
int StartProcess(const char *command);
