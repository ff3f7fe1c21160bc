// The package manifest the packer writes into the updater: the package's id
// and creation time, and the size and SHA-256 of the script and of every
// file the package holds, by their paths relative to the update folder.
// Text in code page 932, lines ending in LF:
//   <marker> 1
//   id=<package id>
//   created=<YYYY-MM-DDTHH:MM:SSZ>
//   file=<64 lower-case hex digits> <size in decimal> <relative path>   (one per file, the script first)
#pragma once

#include <stddef.h>

enum { SHA256_BYTES = 32, MANIFEST_ID_BYTES = 256 };

struct ManifestFile {
    char *path;  // heap
    unsigned long long size;
    unsigned char sha256[SHA256_BYTES];
    void *held;  // the handle the package check holds it by, once checked
};

struct Manifest {
    char id[MANIFEST_ID_BYTES];
    int count;
    ManifestFile *files;  // heap, count of them
};

// Parses text (length bytes, after a first line the caller has checked). 0
// on any line it does not take, a file listed twice or no file at all; the
// manifest is then empty.
int ParseManifest(const char *text, size_t length, Manifest *manifest);
void FreeManifest(Manifest *manifest);
// The entry for a path relative to the update folder ("/" taken as "\",
// ASCII letter case ignored), or null.
const ManifestFile *FindManifestFile(const Manifest *manifest, const char *path);
