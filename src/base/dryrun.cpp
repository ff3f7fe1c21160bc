#include "base/dryrun.h"

namespace {

int g_dryRun = 0;

} // namespace

void SetDryRun(int dryRun)
{
    g_dryRun = dryRun ? 1 : 0;
}

int IsDryRun(void)
{
    return g_dryRun;
}
