#include "checks/ownimage.h"

#include "base/sha256.h"

#include <windows.h>

// The packer writes a manifest only into an image that can read one: this
// text, kept whole in the updater's data, tells it so. Volatile, so that the
// linker keeps it although nothing compares it.
extern volatile const char ManifestReaderTag[];
volatile const char ManifestReaderTag[] = "Lumiupd manifest reader 2";

int OwnImage(PeBytes *image)
{
    const unsigned char *base = (const unsigned char *)GetModuleHandleA(nullptr);
    image->bytes = base;
    image->mapped = 1;
    image->size = 0;
    (void)ManifestReaderTag[0];
    PeLayout layout;
    // The headers are mapped whole, at least one page of them.
    if (!base || !ReadPeLayout(base, 4096, &layout))
        return 0;
    image->size = ReadLe32(base + layout.optional + 56);
    return image->size > 0;
}

int ImageFileDigest(const unsigned char *bytes, size_t size, ManifestPlace *place, unsigned char *digest)
{
    PeBytes file = {bytes, size, 0};
    ManifestFault fault;
    ByteRange ranges[DIGEST_RANGES_MOST];
    HashPart parts[DIGEST_RANGES_MOST];
    int count = 0;
    if (FindManifest(&file, place, &fault) != MANIFEST_FOUND || !ManifestDigestRanges(&file, place, ranges, &count))
        return 0;
    for (int i = 0; i < count; i++)
        parts[i] = {bytes + ranges[i].start, ranges[i].end - ranges[i].start};
    return HashPartsSha256(parts, count, digest);
}
