// What writing and verifying a package manifest share: the folder's
// updaters, their images, and the hashing of listed files.
#pragma once

#include "findings.h"

#include "base/strutil.h"
#include "checks/manifestimage.h"

#include <stddef.h>
#include <stdio.h>

enum { WHAT_BUFFER = 700 };

// One updater of a folder: NAME.exe and the NAME.INF it reads.
struct Updater {
    char script[MAX_PATH_BYTES];
    char exe[MAX_PATH_BYTES];
    int marked;  // its image holds a manifest, whole or not
    int reader;  // its image is an updater that reads one
};

struct Package {
    const char *folder;  // ends with a backslash
    FindingLog log;
    Updater updaters[8];  // every NAME.exe beside a NAME.INF, manifest or not
    int updaterCount;
    int marked, readers;
};

// The folder's updaters. CHECK_ACCEPTED when there is one to work on: for
// verifying, one holding a manifest; for writing, one that reads a manifest.
// Else each is reported.
int FindUpdaters(Package *package, char *folder, size_t folderSize, const char *given, FILE *out, int verifying);
// The updater's path and image (heap, the caller frees); 0 (reported) when
// it cannot be read.
int ReadUpdaterImage(Package *package, const Updater *updater, char *exePath, unsigned char **image, size_t *size);
// The SHA-256 and size of the file at relative below folder.
int HashFolderFile(const char *folder, const char *relative, unsigned char *digest, unsigned long long *size);
// Lower-case hex of a digest, into hex (2 * SHA256_BYTES + 1 bytes).
void DigestHex(const unsigned char *digest, char *hex);

// manifestwrite.cpp / manifestverify.cpp: one updater each.
int WriteOneManifest(Package *package, const Updater *updater);
int VerifyOneUpdater(Package *package, const Updater *updater);
