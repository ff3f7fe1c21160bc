// The package manifest: what `make package` writes into the updater it puts
// in a folder, and what `lumiupd-check --verify` checks the folder against.
// In the updater's image it lives in one area of MANIFEST_AREA_BYTES: the
// marker "LUMIUPD-MANIFEST" (16 bytes, no terminator), the text's length as
// 32 bits little-endian (0: no manifest), the text, zeros to the area's end.
// The text is code page 932, lines ending in LF:
//   LUMIUPD-MANIFEST 1
//   id=<the script's id, or its file name when it has none>
//   created=YYYY-MM-DDTHH:MM:SSZ
//   file=<sha256, lower-case hex> <size> <path relative to the folder>
// the script first, then every other file but the updater and SHA256SUMS, in
// byte order of their paths.
#pragma once

#include <stddef.h>
#include <stdio.h>

enum {
    MANIFEST_AREA_BYTES = 16384,
    MANIFEST_MARKER_BYTES = 16,
    MANIFEST_TEXT_MOST = MANIFEST_AREA_BYTES - MANIFEST_MARKER_BYTES - 4
};

enum AreaSearch { AREA_FOUND, AREA_MISSING, AREA_REPEATED, AREA_CUT };

// Where the area starts in image: AREA_FOUND with offset when the whole
// area fits after the marker's first occurrence and the marker occurs
// nowhere else outside that area.
AreaSearch FindManifestArea(const unsigned char *image, size_t size, size_t *offset);

// Both return a CheckExit and write findings in the checker's convention.
// folder is in code page 932. The folder's updaters are the NAME.exe beside
// a NAME.INF at its top whose image holds the marker.
int WritePackageManifest(const char *folder, FILE *out);
int VerifyPackage(const char *folder, FILE *out);

// checkfs_native.cpp: the file's modification time in seconds since 1970.
int FileModifiedTime(const char *path, long long *seconds);
