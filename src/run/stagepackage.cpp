#include "run/stagepackage.h"

#include "base/tracelog.h"
#include "exec/stage.h"
#include "script/foldermacro.h"
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

int StagePackage(PackageCheck *check, const char *srcFolder, const PtrList *commands)
{
    // Without administrator rights the run can do nothing the user's own
    // programs could not: there is no one to keep out, and nowhere that only
    // administrators could write would let it write its copies.
    if (!check->packaged || IsNotAdmin())
        return 1;
    Folders *folders = (Folders *)calloc(1, sizeof(Folders));
    if (!folders)
        return RefusePackage(check, check->manifest.files[0].path, "cannot be staged");
    int staged = 0;
    int fits = CollectFolders(folders, srcFolder, commands);
    // A plug-in's helpers are looked for at the top of the verified copy even
    // when none is there, never in the update folder.
    int done = (fits && folders->count == 0) || OpenStage(srcFolder) ||
               RefusePackage(check, check->manifest.files[0].path, "cannot be staged");
    for (int i = 0; done && folders->count > 0 && i < check->manifest.count; i++) {
        const ManifestFile &file = check->manifest.files[i];
        // More folders than kept: every file is staged rather than one missed.
        if (!file.held || (fits && !InStagedFolder(*folders, file.path)))
            continue;
        done = StageFile(file.path, (HANDLE)file.held, file.sha256, file.size) ||
               RefusePackage(check, file.path, "cannot be staged");
        staged++;
    }
    if (done && staged > 0)
        TracePrintf("\tstaged - %d files\n", staged);
    free(folders);
    return done;
}
