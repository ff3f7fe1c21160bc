// Whether this run is a dry run (-whatif): the routines that would change
// the machine on their own initiative, outside the commands, ask here.
#pragma once

void SetDryRun(int dryRun);
int IsDryRun(void);
