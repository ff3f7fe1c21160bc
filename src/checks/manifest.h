// The package manifest that `make package` writes into the updater: the
// package's id and creation time, the digest of the packaged updater itself,
// and the size and SHA-256 of the script and of every file the package
// holds, by their paths relative to the update folder. The updater and the
// checker read it here, with the same rules: one reader, one verdict.
// Text in code page 932, every line ending in LF, nothing else after the last:
//   LUMIUPD-MANIFEST 2
//   id=<1 to MANIFEST_ID_MOST bytes>
//   created=<YYYY-MM-DDTHH:MM:SSZ>
//   updater=<64 lower-case hex digits>
//   file=<64 lower-case hex digits> <size in decimal> <relative path>   (one per file, the script first)
// A path is plain and relative: segments of at least one byte between single
// backslashes, no "." or "..", no "/", ":" or control byte, shorter than
// MAX_PATH_BYTES; no two paths alike ignoring ASCII letter case.
#pragma once

#include <stddef.h>

// An id fits on one script line (the packer takes it from the script's id=).
enum { SHA256_BYTES = 32, MANIFEST_ID_MOST = 259 };

struct ManifestFile {
    char *path;  // heap
    unsigned long long size;
    unsigned char sha256[SHA256_BYTES];
    void *held;  // the handle the package check holds it by, once checked
};

struct Manifest {
    char id[MANIFEST_ID_MOST + 1];
    // The packaged updater's digest over its file without its checksum, its
    // signature and this manifest's bytes (ManifestDigestRanges).
    unsigned char updater[SHA256_BYTES];
    int count;
    ManifestFile *files;  // heap, count of them; the script first
};

// Why a manifest was refused: its line (1 for the first; 0 when the fault is
// the image's, not a line's) and what is wrong there.
struct ManifestFault {
    int line;
    const char *what;
};

// Parses text (length bytes) strictly; scriptName is the script the updater
// reads, which must be the first file (ASCII letter case ignored). 0 with
// fault set and the manifest empty when anything is out of shape.
int ParseManifest(const char *text, size_t length, const char *scriptName, Manifest *manifest,
                  ManifestFault *fault);
void FreeManifest(Manifest *manifest);
// The entry for a path relative to the update folder (ASCII letter case
// ignored), or null.
const ManifestFile *FindManifestFile(const Manifest *manifest, const char *path);
