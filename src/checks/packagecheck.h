// The update folder checked against the manifest the packer wrote into the
// updater, before anything changes: the script before it is read, then every
// file the package holds. Each file that passes is held, from its check to
// the end of the run, so that no other process can write, rename or delete
// it, and so is every folder above it: what the run then reads and copies
// (through these handles), loads or starts is what was checked. A folder without a manifest is used
// as it is, and its run's trace is the one it always was; a checked one
// says "update folder verified".
#pragma once

#include "base/ptrlist.h"
#include "base/strutil.h"
#include "checks/manifestimage.h"

struct PackageCheck {
    int packaged;                 // the updater carries a manifest
    Manifest manifest;            // its first file is the script
    char bad[MAX_PATH_BYTES];     // the file at fault, relative to the update folder
    PtrList *held;                // handles (files and folders) held for the run
    PtrList *pinnedFolders;       // the folders held, as paths
};

// Takes the manifest from the updater's image in memory (updaterName: its
// file name, which names the script it reads). 0 (bad names the updater)
// when the image holds one that is not whole and well formed: a damaged
// manifest never stands for none.
int StartPackageCheck(PackageCheck *check, const char *updaterName);
// The script, the manifest's first file, in srcFolder, before it is read: 1
// when it is the one listed, held, its handle in manifest.files[0].held (the
// script is then read through it, never by name again), or when there is
// no manifest.
int CheckPackagedScript(PackageCheck *check, const char *srcFolder);
// Every file the manifest lists is there with its size and hash, and every
// file the commands take is one of them: names with "%DSTPATH%" (the
// installed copy's files) aside, a command's file that is not listed,
// absolute or (a program's) with an environment reference in its name, is
// refused.
int CheckPackagedFiles(PackageCheck *check, const char *srcFolder, const PtrList *commands);
// Ends the check: file (relative to the update folder) is at fault, for why.
// Always 0.
int RefusePackage(PackageCheck *check, const char *file, const char *why);
// Lets go of every file and folder held and frees the manifest: after the
// run's last line.
void EndPackageCheck(PackageCheck *check);
