#include "run/stagepackage.h"

#include "base/messages.h"
#include "base/tracelog.h"
#include "exec/copysource.h"
#include "exec/stage.h"
#include "script/script.h"

#include <windows.h>
#include <shlwapi.h>
#include <stdlib.h>
#include <string.h>

namespace {

enum { MAX_STAGED_FOLDERS = 32 };

struct Folders {
    char names[MAX_STAGED_FOLDERS][MAX_PATH_BYTES];  // relative, ending in a backslash or empty
    int count;
};

int AddFolder(Folders *folders, const char *folder)
{
    for (int i = 0; i < folders->count; i++)
        if (AsciiStricmp(folders->names[i], folder) == 0)
            return 1;
    return folders->count < MAX_STAGED_FOLDERS &&
           StrCopy(folders->names[folders->count++], MAX_PATH_BYTES, folder);
}

// The folder of name (as the updater forms its path) relative to srcFolder;
// a name outside the folder, or one with "%DSTPATH%", is not the update's.
int AddFolderOf(Folders *folders, const char *srcFolder, const char *name)
{
    char full[MAX_PATH_BYTES];
    size_t length = strlen(srcFolder);
    if (strstr(name, "%DSTPATH%") || !PathIsRelativeA(name) || !PathCombineA(full, srcFolder, name) ||
        strlen(full) <= length || _strnicmp(full, srcFolder, length) != 0)
        return 1;
    char *folder = full + length;
    folder[PathLastComponent(folder) - folder] = '\0';
    return AddFolder(folders, folder);
}

int CollectFolders(Folders *folders, const char *srcFolder, const PtrList *commands)
{
    int fits = 1;
    for (PtrNode *cursor = PtrListFirst(commands); cursor;) {
        const FileEntry *entry = (const FileEntry *)PtrListNextData(&cursor);
        if (entry->act == ACT_EXE)
            fits = fits && AddFolderOf(folders, srcFolder, entry->filename);
        if (entry->act == ACT_DLL)
            fits = fits && AddFolderOf(folders, srcFolder, ((const AddOnExtra *)entry->extra)->dll) &&
                   AddFolder(folders, "");
    }
    return fits;
}

int InStagedFolder(const Folders &folders, const char *path)
{
    size_t length = (size_t)(PathLastComponent(path) - path);
    for (int i = 0; i < folders.count; i++)
        if (strlen(folders.names[i]) == length && _strnicmp(folders.names[i], path, length) == 0)
            return 1;
    return 0;
}

} // namespace

void TraceStageShort(unsigned long long need, unsigned long long freeBytes)
{
    TracePrintf("\tstage does not fit - %I64u bytes, %I64u free\n", need, freeBytes);
}

int StagePackage(PackageCheck *check, const char *srcFolder, const PtrList *commands)
{
    if (!check->packaged || !StageRoot())
        return RESULT_SUCCESS;
    Folders *folders = (Folders *)calloc(1, sizeof(Folders));
    if (!folders) {
        RefusePackage(check, check->manifest.files[0].path, "cannot be staged");
        return RESULT_BAD_PACKAGE;
    }
    int fits = CollectFolders(folders, srcFolder, commands);
    // More folders than kept: every file is staged rather than one missed.
    // Nothing loads or starts the script (the first file).
    unsigned long long need = 0, freeBytes = 0;
    for (int i = 1; folders->count > 0 && i < check->manifest.count; i++)
        if (!fits || InStagedFolder(*folders, check->manifest.files[i].path))
            need += check->manifest.files[i].size;
    int result = RESULT_SUCCESS, staged = 0;
    if (!StageFits(need, &freeBytes)) {
        TraceStageShort(need, freeBytes);
        result = RESULT_NO_SPACE;
    }
    for (int i = 1; result == RESULT_SUCCESS && folders->count > 0 && i < check->manifest.count; i++) {
        const ManifestFile &file = check->manifest.files[i];
        if (fits && !InStagedFolder(*folders, file.path))
            continue;
        if (!StageFile(file.path, (HANDLE)file.held, file.sha256, file.size)) {
            RefusePackage(check, file.path, "cannot be staged");
            result = RESULT_BAD_PACKAGE;
        }
        staged++;
    }
    if (result == RESULT_SUCCESS && staged > 0)
        TracePrintf("\tstaged - %d files\n", staged);
    free(folders);
    return result;
}

int UseCheckedFiles(const PackageCheck *check, const char *srcFolder)
{
    char path[MAX_PATH_BYTES];
    for (int i = 0; check->packaged && i < check->manifest.count; i++)
        if (!JoinPath(path, sizeof(path), srcFolder, check->manifest.files[i].path) ||
            !AddCheckedSource(path, (HANDLE)check->manifest.files[i].held))
            return 0;
    return 1;
}
