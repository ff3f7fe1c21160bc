#include "checks/manifestarea.h"

#include <stdlib.h>

// The marker is spelt nowhere else in the updater, so that the packer finds
// exactly one. Volatile: the compiler must read what the packer wrote, not
// the zeros it was built with.
extern volatile const unsigned char lumiManifestArea[MANIFEST_AREA_BYTES];
volatile const unsigned char lumiManifestArea[MANIFEST_AREA_BYTES] = {'L', 'U', 'M', 'I', 'U', 'P', 'D', '-',
                                                                      'M', 'A', 'N', 'I', 'F', 'E', 'S', 'T'};

char *ManifestCopy(size_t *length)
{
    size_t n = 0;
    for (int i = 3; i >= 0; i--)
        n = (n << 8) | lumiManifestArea[16 + i];
    *length = n;
    if (n == 0 || n > MANIFEST_AREA_BYTES - MANIFEST_HEADER_BYTES)
        return nullptr;
    char *text = (char *)malloc(n + 1);
    if (!text)
        return nullptr;
    for (size_t i = 0; i < n; i++)
        text[i] = (char)lumiManifestArea[MANIFEST_HEADER_BYTES + i];
    text[n] = '\0';
    return text;
}

int ManifestMarkerIs(const char *text, size_t length)
{
    if (length < 16)
        return 0;
    for (int i = 0; i < 16; i++)
        if ((unsigned char)text[i] != lumiManifestArea[i])
            return 0;
    return 1;
}
