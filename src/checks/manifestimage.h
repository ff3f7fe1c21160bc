// Where the package manifest lives: a section of its own, MANIFEST_SECTION,
// that the packer adds to the updater's PE image before it is signed, so
// that the signature covers it and the loader maps it. One reader for both
// forms of an image: a file as stored (the checker; the updater's own staged
// copy) and an image as the loader mapped it (the running updater reading
// its own, never the file on disk, which another process could replace).
#pragma once

#include "checks/manifest.h"

#include <stddef.h>

// The section's name, and the text its data starts with (the manifest's
// first line). An image holds a manifest when a section has that name or
// starts with that text.
static const char MANIFEST_SECTION[] = ".lumiman";
static const char MANIFEST_MARKER[] = "LUMIUPD-MANIFEST";
enum { MANIFEST_MARKER_BYTES = 16, PE_SECTION_HEADER_BYTES = 40 };

// An image as bytes: a file (a section's data at its PointerToRawData) or
// one the loader mapped (at its VirtualAddress).
struct PeBytes {
    const unsigned char *bytes;
    size_t size;
    int mapped;
};

// Where a PE image's headers are, once they were found whole within it.
struct PeLayout {
    size_t optional;        // the optional header
    size_t checksum;        // the optional header's CheckSum
    size_t directories;     // the data directories
    unsigned directoryCount;
    size_t sections;        // the section table
    unsigned sectionCount;
};
int ReadPeLayout(const unsigned char *bytes, size_t size, PeLayout *layout);
// Little-endian fields.
unsigned ReadLe16(const unsigned char *p);
unsigned long ReadLe32(const unsigned char *p);

enum ManifestPresence { MANIFEST_ABSENT, MANIFEST_FOUND, MANIFEST_DAMAGED };

struct ManifestPlace {
    const char *text;         // within the image
    size_t length;
    size_t rawStart, rawSize;  // the section's raw data (file offsets)
};

// ABSENT: no section holds the manifest (also for bytes that are no PE
// image). DAMAGED, with fault: it is there but not whole (in two sections,
// under another name, its text longer than its section's data, or the file
// ends inside that data). The text is the section's first VirtualSize bytes.
ManifestPresence FindManifest(const PeBytes *image, ManifestPlace *place, ManifestFault *fault);
// FindManifest, then ParseManifest of what it found: DAMAGED when either
// refuses it.
ManifestPresence ReadImageManifest(const PeBytes *image, const char *scriptName, Manifest *manifest,
                                   ManifestPlace *place, ManifestFault *fault);

// What the packaged updater's digest covers of its file (manifest.updater):
// every byte but the PE checksum, the certificate table's directory entry,
// the certificate table and the manifest's section data, which change with
// signing or hold the digest itself. 0 when they overlap or leave the file.
enum { DIGEST_RANGES_MOST = 5 };
struct ByteRange {
    size_t start, end;
};
int ManifestDigestRanges(const PeBytes *file, const ManifestPlace *place, ByteRange *ranges, int *count);
