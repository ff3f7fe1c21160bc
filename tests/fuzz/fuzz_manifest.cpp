// The package manifest's one reader, as the updater (an image the loader
// mapped) and the checker (a file) use it. Input: a PE image, or a
// manifest's text. Checked besides overruns: what a manifest is accepted
// with is exactly what its text says (each line rebuilt from what was read
// is the line read), its paths are plain and unique, and the ranges the
// updater's digest covers stay inside the file, in order, apart.
#include "base/strutil.h"
#include "checks/manifestimage.h"

#include <string>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char SCRIPT[] = "Lumiupd.INF";

void Require(bool condition)
{
    if (!condition)
        abort();
}

std::string Hex(const unsigned char *bytes)
{
    char text[2 * SHA256_BYTES + 1];
    for (int i = 0; i < SHA256_BYTES; i++)
        snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    return text;
}

// Everything after the created= line, as the manifest's fields give it.
void RequireRebuilt(const char *text, size_t length, const Manifest &manifest)
{
    std::string whole(text, length);
    size_t created = whole.find("\ncreated=");
    Require(whole.compare(0, 23 + strlen(manifest.id), "LUMIUPD-MANIFEST 2\nid=" + std::string(manifest.id) + "\n") ==
            0);
    Require(created != std::string::npos);
    std::string rest = "updater=" + Hex(manifest.updater) + "\n";
    for (int i = 0; i < manifest.count; i++) {
        const ManifestFile &file = manifest.files[i];
        Require(file.path[0] && !strchr(file.path, '/') && !strchr(file.path, ':'));
        for (int j = 0; j < i; j++)
            Require(AsciiStricmp(file.path, manifest.files[j].path) != 0);
        rest += "file=" + Hex(file.sha256) + " " + std::to_string(file.size) + " " + file.path + "\n";
    }
    Require(AsciiStricmp(manifest.files[0].path, SCRIPT) == 0);
    Require(whole.compare(whole.find('\n', created + 1) + 1, std::string::npos, rest) == 0);
}

void CheckImage(const uint8_t *data, size_t size, int mapped)
{
    PeBytes image = {data, size, mapped};
    Manifest manifest;
    ManifestPlace place;
    ManifestFault fault;
    if (ReadImageManifest(&image, SCRIPT, &manifest, &place, &fault) != MANIFEST_FOUND)
        return;
    Require((const uint8_t *)place.text >= data && (const uint8_t *)place.text + place.length <= data + size);
    RequireRebuilt(place.text, place.length, manifest);
    ByteRange ranges[DIGEST_RANGES_MOST];
    int count = 0;
    if (!mapped && ManifestDigestRanges(&image, &place, ranges, &count)) {
        for (int i = 0; i < count; i++)
            Require(ranges[i].start < ranges[i].end && ranges[i].end <= size && (i == 0 || ranges[i - 1].end < ranges[i].start));
    }
    FreeManifest(&manifest);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CheckImage(data, size, 0);
    CheckImage(data, size, 1);
    Manifest manifest;
    ManifestFault fault;
    if (ParseManifest((const char *)data, size, SCRIPT, &manifest, &fault)) {
        RequireRebuilt((const char *)data, size, manifest);
        FreeManifest(&manifest);
    } else {
        Require(fault.what && manifest.count == 0 && !manifest.files);
    }
    return 0;
}
