#include "run/cmdline.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char *line = (char *)malloc(size + 1);
    memcpy(line, data, size);
    line[size] = '\0';
    CommandLineOptions cl;
    memset(&cl, 0, sizeof(cl));
    ParseCommandLine(line, &cl);
    size_t len = strnlen(cl.dst, sizeof(cl.dst));
    if (len == sizeof(cl.dst) || (cl.flag & ~7) || (cl.dstTooLong && len))
        abort();
    // Unattended brings auto and silent; a refused dry run is a dry run.
    if (((cl.flag & 4) && cl.flag != 7) || (cl.whatIfRefused && !cl.whatIf) ||
        strnlen(cl.whatIfPath, sizeof(cl.whatIfPath)) == sizeof(cl.whatIfPath) ||
        strnlen(cl.whatIfRefusedOption, sizeof(cl.whatIfRefusedOption)) == sizeof(cl.whatIfRefusedOption))
        abort();
    free(line);
    return 0;
}
