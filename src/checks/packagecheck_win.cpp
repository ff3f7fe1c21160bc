#include "checks/packagecheck.h"

#include "base/safefile.h"
#include "base/sha256.h"
#include "base/tracelog.h"
#include "checks/ownimage.h"
#include "script/parser.h"
#include "script/script.h"

#include <windows.h>
#include <shlwapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int RefusePackage(PackageCheck *check, const char *file, const char *why)
{
    StrCopy(check->bad, sizeof(check->bad), file);
    TracePrintf("\tpackage refused - %s: %s\n", file, why);
    return 0;
}

namespace {

const char DST_PATH[] = "%DSTPATH%";

int Hold(PackageCheck *check, HANDLE handle)
{
    if (PtrListAppend(check->held, (void *)handle))
        return 1;
    CloseHandle(handle);
    return 0;
}

// Holds folder (ending in a backslash) and every folder above it but the
// drive's root, outermost first, so that none of them can be renamed or
// replaced while the run uses what is below.
int PinFolders(PackageCheck *check, const char *folder)
{
    char path[MAX_PATH_BYTES];
    if (!StrCopy(path, sizeof(path), folder))
        return 0;
    // A drive's root, and a network path's server and share, stay as they are.
    int skipped = strncmp(path, "\\\\", 2) == 0 ? 4 : 1;
    for (char *slash = MbsChr(path, '\\'); slash; slash = MbsChr(slash + 1, '\\')) {
        if (skipped > 0) {
            skipped--;
            continue;
        }
        *slash = '\0';
        int known = 0;
        for (PtrNode *cursor = PtrListFirst(check->pinnedFolders); cursor && !known;)
            known = AsciiStricmp((const char *)PtrListNextData(&cursor), path) == 0;
        if (!known) {
            HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr);
            if (handle == INVALID_HANDLE_VALUE || !Hold(check, handle))
                return 0;
            char *copy = StrDup(path);
            if (!copy || !PtrListAppend(check->pinnedFolders, copy)) {
                free(copy);
                return 0;
            }
        }
        *slash = '\\';
    }
    return 1;
}

// Checks the file against its entry and keeps it held.
int CheckFile(PackageCheck *check, const char *srcFolder, ManifestFile &file)
{
    char path[MAX_PATH_BYTES];
    char folder[MAX_PATH_BYTES];
    if (!JoinPath(path, sizeof(path), srcFolder, file.path) || !StrCopy(folder, sizeof(folder), path))
        return RefusePackage(check, file.path, "path too long");
    folder[PathLastComponent(folder) - folder] = '\0';
    if (!PinFolders(check, folder))
        return RefusePackage(check, file.path, "its folder cannot be held");
    // Shared for reading only: nobody writes, renames or deletes it now.
    HANDLE handle = OpenPlainFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
        return RefusePackage(check, file.path, GetLastError() == ERROR_FILE_NOT_FOUND ? "missing" : "cannot be held");
    if (!Hold(check, handle))
        return RefusePackage(check, file.path, "cannot be held");
    file.held = handle;
    LARGE_INTEGER size;
    unsigned char digest[SHA256_DIGEST_BYTES];
    unsigned long long hashed = 0;
    if (!GetFileSizeEx(handle, &size) || (unsigned long long)size.QuadPart != file.size)
        return RefusePackage(check, file.path, "size differs");
    if (!HashFileSha256(handle, digest, &hashed) || hashed != file.size ||
        memcmp(digest, file.sha256, SHA256_DIGEST_BYTES) != 0)
        return RefusePackage(check, file.path, "content differs");
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    SetFilePointerEx(handle, zero, nullptr, FILE_BEGIN);
    return 1;
}

// A program's name is expanded at its start: a reference to the
// environment there could name a file nobody listed.
int HoldsReference(const char *name)
{
    for (const char *p = strchr(name, '%'); p; p = strchr(p, '%')) {
        if (strncmp(p, DST_PATH, sizeof(DST_PATH) - 1) != 0)
            return 1;
        p += sizeof(DST_PATH) - 1;
    }
    return 0;
}

// A file a command takes must be one the manifest lists: anything else is
// bytes nobody checked. Only the installed copy's files ("%DSTPATH%") are
// not the package's.
int IsListed(const PackageCheck *check, const char *srcFolder, const char *name)
{
    if (strstr(name, DST_PATH))
        return 1;
    char full[MAX_PATH_BYTES];
    size_t folderLength = strlen(srcFolder);
    if (!PathIsRelativeA(name) || !PathCombineA(full, srcFolder, name) || strlen(full) <= folderLength ||
        _strnicmp(full, srcFolder, folderLength) != 0)
        return 0;
    return FindManifestFile(&check->manifest, full + folderLength) != nullptr;
}

int CheckNamed(PackageCheck *check, const char *srcFolder, const char *name)
{
    return IsListed(check, srcFolder, name) ? 1 : RefusePackage(check, name, "not in the manifest");
}

int CheckCommand(PackageCheck *check, const char *srcFolder, const FileEntry *entry)
{
    if (entry->act == ACT_COPY)
        return CheckNamed(check, srcFolder, entry->filename);
    if (entry->act == ACT_EXE)
        return HoldsReference(entry->filename) ? RefusePackage(check, entry->filename, "not in the manifest")
                                               : CheckNamed(check, srcFolder, entry->filename);
    if (entry->act == ACT_DLL)
        return CheckNamed(check, srcFolder, entry->filename) &&
               CheckNamed(check, srcFolder, ((const AddOnExtra *)entry->extra)->dll);
    return 1;
}

} // namespace

int StartPackageCheck(PackageCheck *check, const char *updaterName)
{
    memset(check, 0, sizeof(*check));
    check->held = PtrListCreate();
    check->pinnedFolders = PtrListCreate();
    char script[MAX_PATH_BYTES];
    PeBytes image;
    ManifestPlace place;
    ManifestFault fault;
    if (!StrCopy(script, sizeof(script), updaterName) || !ScriptPathFromModulePath(script, sizeof(script)) ||
        !OwnImage(&image))
        return RefusePackage(check, updaterName, "its manifest cannot be read");
    ManifestPresence found = ReadImageManifest(&image, script, &check->manifest, &place, &fault);
    check->packaged = found != MANIFEST_ABSENT;
    if (found != MANIFEST_DAMAGED)
        return 1;
    char why[200];
    if (fault.line > 0)
        snprintf(why, sizeof(why), "its manifest cannot be read (line %d: %s)", fault.line, fault.what);
    else
        snprintf(why, sizeof(why), "its manifest cannot be read (%s)", fault.what);
    return RefusePackage(check, updaterName, why);
}

int CheckPackagedScript(PackageCheck *check, const char *srcFolder)
{
    return !check->packaged || CheckFile(check, srcFolder, check->manifest.files[0]);
}

int CheckPackagedFiles(PackageCheck *check, const char *srcFolder, const PtrList *commands)
{
    if (!check->packaged)
        return 1;
    for (int i = 1; i < check->manifest.count; i++)
        if (!CheckFile(check, srcFolder, check->manifest.files[i]))
            return 0;
    for (PtrNode *cursor = PtrListFirst(commands); cursor;)
        if (!CheckCommand(check, srcFolder, (const FileEntry *)PtrListNextData(&cursor)))
            return 0;
    TracePrintf("\tupdate folder verified - %s, %d files\n", check->manifest.id, check->manifest.count);
    return 1;
}

void EndPackageCheck(PackageCheck *check)
{
    while (!PtrListIsEmpty(check->held))
        CloseHandle((HANDLE)PtrListPopFront(check->held));
    PtrListDestroy(check->held);
    PtrListFreeStrings(check->pinnedFolders);
    FreeManifest(&check->manifest);
}
