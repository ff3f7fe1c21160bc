// The package manifest on the packer's and the verifier's side: `make
// package` writes it into the updater it puts in a folder (as a section of
// its own, tools/lumiupdcheck/pesection.h), and `lumiupd-check --verify`
// checks the folder against it. Both read it with the updater's own reader
// (src/checks/manifest.h, manifestimage.h): what one accepts, so does the
// other. The manifest lists the script first, then every other file but the
// updater and SHA256SUMS, in byte order of their paths.
#pragma once

#include <stdio.h>

// Both return a CheckExit and write findings in the checker's convention.
// folder is in code page 932. The folder's updaters are the NAME.exe beside
// a NAME.INF at its top whose image holds a manifest (to verify) or can
// read one (to write one into).
int WritePackageManifest(const char *folder, FILE *out);
int VerifyPackage(const char *folder, FILE *out);

// checkfs_native.cpp: the file's modification time in seconds since 1970.
int FileModifiedTime(const char *path, long long *seconds);
// checkfs_native.cpp: why the file at relative (below folder, which ends in
// a backslash) may not be the one the updater checks: a level of the path
// that is a link, a file with a second name, or a level whose name another
// entry of its folder also has, ASCII letter case ignored. Null when none.
const char *PathAmbiguity(const char *folder, const char *relative);
