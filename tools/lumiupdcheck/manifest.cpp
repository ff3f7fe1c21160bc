// Writing and verifying the package manifest. The verdict must be the
// updater's own: it is read with the updater's reader, a file is as the
// manifest lists it (same size, same SHA-256) or the folder is refused, and
// so is a folder whose script takes a file the manifest leaves out.
#include "manifest.h"
#include "manifestpackage.h"

#include "checker.h"
#include "checkfs.h"
#include "sha256.h"

#include <stdlib.h>
#include <string.h>

namespace {

// An updater is a few hundred kilobytes; anything far larger is not one.
const size_t ImageMost = 64u << 20;
// What the updater keeps whole in its data to say it reads manifests of
// this form (src/checks/ownimage_win.cpp).
const char ReaderTag[] = "Lumiupd manifest reader 2";

int EndsWithInf(const char *name)
{
    size_t length = strlen(name);
    return length > 4 && AsciiStricmp(name + length - 4, ".INF") == 0;
}

int ReadImage(const char *path, unsigned char **image, size_t *size)
{
    *image = nullptr;
    *size = 0;
    FILE *file = OpenCheckedFile(path, "rb");
    if (!file)
        return 0;
    long length = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
    unsigned char *bytes = length >= 0 && (size_t)length <= ImageMost && fseek(file, 0, SEEK_SET) == 0
                               ? (unsigned char *)malloc((size_t)length + 1)
                               : nullptr;
    int ok = bytes && fread(bytes, 1, (size_t)length, file) == (size_t)length;
    fclose(file);
    if (!ok) {
        free(bytes);
        return 0;
    }
    *image = bytes;
    *size = (size_t)length;
    return 1;
}

// Whether the image at path holds a manifest, and whether it reads one.
void LookAtImage(const char *path, Updater *updater)
{
    unsigned char *image;
    size_t size;
    updater->marked = updater->reader = 0;
    if (!ReadImage(path, &image, &size))
        return;
    PeBytes file = {image, size, 0};
    ManifestPlace place;
    ManifestFault fault;
    updater->marked = FindManifest(&file, &place, &fault) != MANIFEST_ABSENT;
    updater->reader = memmem(image, size, ReaderTag, sizeof(ReaderTag)) != nullptr;
    free(image);
}

void VisitTopFile(const char *relative, unsigned long long, void *context)
{
    Package *package = (Package *)context;
    if (MbsChr(relative, '\\') || !EndsWithInf(relative))
        return;
    Updater updater;
    char exePath[MAX_PATH_BYTES];
    size_t base = strlen(relative) - 4;
    if (!StrCopy(updater.script, sizeof(updater.script), relative) || base + 5 > sizeof(updater.exe))
        return;
    memcpy(updater.exe, relative, base);
    memcpy(updater.exe + base, ".exe", 5);
    if (!JoinPath(exePath, sizeof(exePath), package->folder, updater.exe) || KindOfPath(exePath) != PATH_FILE)
        return;
    LookAtImage(exePath, &updater);
    if (package->updaterCount < (int)(sizeof(package->updaters) / sizeof(Updater))) {
        package->updaters[package->updaterCount++] = updater;
        package->marked += updater.marked;
        package->readers += updater.reader;
    }
}

} // namespace

int FindUpdaters(Package *package, char *folder, size_t folderSize, const char *given, FILE *out, int verifying)
{
    memset(package, 0, sizeof(*package));
    if (!StrCopy(folder, folderSize, given) || !AddBackslash(folder, folderSize) || KindOfPath(folder) != PATH_FOLDER) {
        PathFinding(out, given, "not a folder");
        return CHECK_UNREADABLE;
    }
    package->folder = folder;
    InitFindingLog(&package->log, out, "", folder);
    if (!WalkFolderFiles(folder, VisitTopFile, package)) {
        PathFinding(out, given, "the folder cannot be listed");
        return CHECK_UNREADABLE;
    }
    if (package->updaterCount == 0) {
        PathFinding(out, given, "no updater: no NAME.exe beside a NAME.INF");
        return CHECK_UNREADABLE;
    }
    // A data file that happens to share a script's name is no updater; an
    // updater without a manifest (or that reads none) cannot verify its folder.
    int found = verifying ? package->marked : package->readers;
    for (int i = 0; found == 0 && i < package->updaterCount; i++)
        FolderFinding(&package->log, SEVERITY_ERROR,
                      verifying ? "holds no manifest: it is not an updater that verifies its folder"
                                : "reads no manifest: it is not an updater that verifies its folder",
                      package->updaters[i].exe);
    return found ? CHECK_ACCEPTED : CHECK_REFUSED;
}

int ReadUpdaterImage(Package *package, const Updater *updater, char *exePath, unsigned char **image, size_t *size)
{
    if (JoinPath(exePath, MAX_PATH_BYTES, package->folder, updater->exe) && ReadImage(exePath, image, size))
        return 1;
    FolderFinding(&package->log, SEVERITY_ERROR, "cannot be read", updater->exe);
    return 0;
}

int HashFolderFile(const char *folder, const char *relative, unsigned char *digest, unsigned long long *size)
{
    char path[MAX_PATH_BYTES];
    FILE *handle = JoinPath(path, sizeof(path), folder, relative) ? OpenCheckedFile(path, "rb") : nullptr;
    if (!handle)
        return 0;
    int ok = Sha256OfFile(handle, digest, size);
    fclose(handle);
    return ok;
}

void DigestHex(const unsigned char *digest, char *hex)
{
    for (int i = 0; i < SHA256_BYTES; i++)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
}

int WritePackageManifest(const char *given, FILE *out)
{
    Package package;
    char folder[MAX_PATH_BYTES];
    int result = FindUpdaters(&package, folder, sizeof(folder), given, out, 0);
    for (int i = 0; result == CHECK_ACCEPTED && i < package.updaterCount; i++) {
        if (package.updaters[i].reader && !WriteOneManifest(&package, &package.updaters[i]))
            result = CHECK_REFUSED;
    }
    return result;
}

int VerifyPackage(const char *given, FILE *out)
{
    Package package;
    char folder[MAX_PATH_BYTES];
    int result = FindUpdaters(&package, folder, sizeof(folder), given, out, 1);
    for (int i = 0; result != CHECK_UNREADABLE && i < package.updaterCount; i++) {
        if (package.updaters[i].marked && !VerifyOneUpdater(&package, &package.updaters[i]))
            result = CHECK_REFUSED;
    }
    if (result == CHECK_ACCEPTED)
        fprintf(out, "RESULT: verified\n");
    else if (result == CHECK_REFUSED)
        fprintf(out, "RESULT: refused (%d error%s)\n", package.log.errors, package.log.errors == 1 ? "" : "s");
    return result;
}
