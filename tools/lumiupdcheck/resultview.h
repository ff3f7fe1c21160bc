// lumiupd-check --result FILE: what a support engineer is sent back from a
// customer's machine, shown in the terminal. A run's result file (JSON) is
// shown as indented "name: value" lines; any other text (a dry run's
// report) is shown as it is.
#pragma once

#include <stdio.h>

// 0 when shown, 1 when the file is JSON that does not parse (what parsed
// is shown, then where it stopped), 2 when it cannot be read.
int ShowResultFile(const char *path, FILE *out);
