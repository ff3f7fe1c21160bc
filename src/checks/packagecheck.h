// The update folder checked against the manifest the packer wrote into the
// updater, before anything changes: the script before it is read, then every
// file the package holds. Each file that passes is held, from its check to
// the end of the run, so that no other process can write, rename or delete
// it, and so is every folder above it: what the run then copies, loads or
// starts by name is what was checked. A folder without a manifest is used
// as it is, and its run's trace is the one it always was; a checked one
// says "update folder verified".
#pragma once

#include "base/ptrlist.h"
#include "base/strutil.h"
#include "checks/manifest.h"

struct PackageCheck {
    int packaged;                 // the updater carries a manifest
    Manifest manifest;
    const ManifestFile *script;   // the script's entry, once checked
    char bad[MAX_PATH_BYTES];     // the file at fault, relative to the update folder
    PtrList *held;                // handles (files and folders) held for the run
    PtrList *pinnedFolders;       // the folders held, as paths
};

// Takes the manifest from the updater's image. 0 (bad names the updater)
// when it is there but cannot be read.
int StartPackageCheck(PackageCheck *check, const char *updaterName);
// The script at scriptPath in srcFolder, before it is read. 1 when it is
// the one the manifest lists, or when there is no manifest.
int CheckPackagedScript(PackageCheck *check, const char *srcFolder, const char *scriptPath);
// Every file the manifest lists is there with its size and hash, and every
// file the commands take from the update folder is one of them.
int CheckPackagedFiles(PackageCheck *check, const char *srcFolder, const PtrList *commands);
// Ends the check: file (relative to the update folder) is at fault, for why.
// Always 0.
int RefusePackage(PackageCheck *check, const char *file, const char *why);
// Lets go of every file and folder held and frees the manifest: after the
// run's last line.
void EndPackageCheck(PackageCheck *check);
