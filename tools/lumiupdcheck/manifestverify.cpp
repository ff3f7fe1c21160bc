// Verifying a folder against the manifest in its updater, as the updater
// itself would: the manifest read by the updater's own reader, the updater
// the one the manifest was written for, every listed file there with its
// size and SHA-256 and nothing that could make the updater take another
// file (a link, another entry of the same name in another letter case),
// and every file the script takes listed.
#include "manifest.h"
#include "manifestpackage.h"

#include "checker.h"
#include "checkfs.h"
#include "sha256.h"

#include "base/ptrlist.h"

#include <stdlib.h>
#include <string.h>

namespace {

void CheckListedFile(Package *package, const ManifestFile *listed)
{
    char what[WHAT_BUFFER], path[MAX_PATH_BYTES];
    unsigned char digest[SHA256_BYTES];
    unsigned long long size = 0;
    int kind = JoinPath(path, sizeof(path), package->folder, listed->path) ? KindOfPath(path) : PATH_MISSING;
    const char *ambiguity = kind == PATH_FILE ? PathAmbiguity(package->folder, listed->path) : nullptr;
    if (kind != PATH_FILE) {
        snprintf(what, sizeof(what), "%s (the manifest lists %llu bytes)",
                 kind == PATH_FOLDER ? "a folder where the manifest lists a file" : "missing", listed->size);
        FolderFinding(&package->log, SEVERITY_ERROR, what, listed->path);
    } else if (ambiguity) {
        FolderFinding(&package->log, SEVERITY_ERROR, ambiguity, listed->path);
    } else if (!HashFolderFile(package->folder, listed->path, digest, &size)) {
        FolderFinding(&package->log, SEVERITY_ERROR, "cannot be read", listed->path);
    } else if (size != listed->size) {
        snprintf(what, sizeof(what), "%llu bytes where the manifest lists %llu: cut short, or another file", size,
                 listed->size);
        FolderFinding(&package->log, SEVERITY_ERROR, what, listed->path);
    } else if (memcmp(digest, listed->sha256, SHA256_BYTES) != 0) {
        FolderFinding(&package->log, SEVERITY_ERROR,
                      "its SHA-256 is not the manifest's: changed, or taken from another package", listed->path);
    }
}

// The script's files the manifest leaves out: the updater would refuse them.
void CheckTakenFiles(Package *package, const Updater *updater, const Manifest *manifest)
{
    char scriptPath[MAX_PATH_BYTES];
    PtrList *taken = PtrListCreate();
    if (!taken || !JoinPath(scriptPath, sizeof(scriptPath), package->folder, updater->script) ||
        !ListTakenFiles(scriptPath, package->folder, taken)) {
        FolderFinding(&package->log, SEVERITY_ERROR, "the script cannot be read", updater->script);
    } else {
        for (PtrNode *node = PtrListFirst(taken); node; node = node->next) {
            if (!FindManifestFile(manifest, (const char *)node->data))
                FolderFinding(&package->log, SEVERITY_ERROR,
                              "the script takes this file but the manifest does not list it",
                              (const char *)node->data);
        }
    }
    if (taken)
        PtrListFreeStrings(taken);
}

// The updater is the image the manifest's digest was taken of.
int IsSealedImage(const unsigned char *image, size_t size, const ManifestPlace *place, const Manifest *manifest)
{
    PeBytes file = {image, size, 0};
    ByteRange ranges[DIGEST_RANGES_MOST];
    unsigned char digest[SHA256_BYTES];
    int count = 0;
    return ManifestDigestRanges(&file, place, ranges, &count) && Sha256OfRanges(image, ranges, count, digest) &&
           memcmp(digest, manifest->updater, SHA256_BYTES) == 0;
}

// The manifest of the updater's image, read as the updater reads its own;
// 0 (reported) when it refuses it.
int ReadManifest(Package *package, const Updater *updater, Manifest *manifest)
{
    char exePath[MAX_PATH_BYTES], what[WHAT_BUFFER];
    unsigned char *image = nullptr;
    size_t size = 0;
    if (!ReadUpdaterImage(package, updater, exePath, &image, &size))
        return 0;
    PeBytes file = {image, size, 0};
    ManifestPlace place;
    ManifestFault fault;
    int read = ReadImageManifest(&file, updater->script, manifest, &place, &fault) == MANIFEST_FOUND;
    if (!read) {
        if (fault.line > 0)
            snprintf(what, sizeof(what), "its manifest cannot be read: line %d: %s", fault.line, fault.what);
        else
            snprintf(what, sizeof(what), "its manifest cannot be read: %s", fault.what);
        FolderFinding(&package->log, SEVERITY_ERROR, what, updater->exe);
    } else if (!IsSealedImage(image, size, &place, manifest)) {
        FolderFinding(&package->log, SEVERITY_ERROR,
                      "it is not the updater its manifest was written for (its SHA-256 differs)", updater->exe);
    }
    free(image);
    return read;
}

} // namespace

int VerifyOneUpdater(Package *package, const Updater *updater)
{
    char what[WHAT_BUFFER];
    int errors = package->log.errors;
    Manifest manifest;
    if (!ReadManifest(package, updater, &manifest))
        return 0;
    for (int i = 0; i < manifest.count; i++)
        CheckListedFile(package, &manifest.files[i]);
    CheckTakenFiles(package, updater, &manifest);
    if (package->log.errors == errors) {
        snprintf(what, sizeof(what), "the folder matches the manifest (%d files)", manifest.count);
        FolderFinding(&package->log, SEVERITY_INFO, what, updater->exe);
    }
    FreeManifest(&manifest);
    return package->log.errors == errors;
}
