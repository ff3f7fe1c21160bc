#include "exec/update.h"

#include "base/strutil.h"
#include "base/tracelog.h"
#include "exec/addon.h"
#include "exec/filecmd.h"
#include "exec/filereplace.h"
#include "exec/history.h"
#include "exec/replacedst.h"
#include "exec/shortcut.h"
#include "script/script.h"
#include "ui/progressdlg.h"

#include <windows.h>
#include <shlwapi.h>
#include <stdlib.h>

namespace {

// What one command works with in one destination.
struct CommandPaths {
    char text[EXEC_TEXT_BUFFER];  // filename with "%DSTPATH%" replaced
    char src[EXEC_TEXT_BUFFER];   // text made absolute
    char dst[EXEC_TEXT_BUFFER];   // folder + filename as written
};

void Progress(HWND dialog, WPARAM what, const char *text)
{
    if (dialog)
        SendMessageA(dialog, WM_UPDATE_PROGRESS, what, (LPARAM)text);
}

// 0 when a path does not fit its buffer: the command then fails rather than
// act on a cut path.
int BuildSource(CommandPaths *paths, const char *srcFolder, const char *folder,
                const FileEntry *entry)
{
    if (!StrCopy(paths->text, sizeof(paths->text), entry->filename) ||
        !ReplaceDstPath(paths->text, sizeof(paths->text), folder))
        return 0;
    if (!PathIsRelativeA(paths->text))
        return StrCopy(paths->src, sizeof(paths->src), paths->text);
    return PathCombineA(paths->src, srcFolder, paths->text) != nullptr;
}

int BuildDestination(CommandPaths *paths, const char *folder, const FileEntry *entry)
{
    return StrCopy(paths->dst, sizeof(paths->dst), folder) &&
           StrAppend(paths->dst, sizeof(paths->dst), entry->filename);
}

int RunHandler(const FileEntry *entry, const CommandPaths &paths, const char *folder,
               const char *id, HWND dialog)
{
    switch (entry->act) {
    case ACT_COPY:
        return Copy(paths.src, paths.dst, dialog);
    case ACT_REMOVE:
        return Delete(paths.dst, dialog);
    case ACT_DLL:
        return AddOn(paths.src, paths.dst, (const AddOnExtra *)entry->extra, dialog);
    case ACT_EXE:
        return Exec(paths.src, folder, (const char *)entry->extra, dialog);
    case ACT_SHORTCUT:
        return Shortcut((const char *)entry->extra, folder, entry->filename);
    case ACT_LOG:
        return Log(folder, entry->filename, id);
    case ACT_CREATE:
        return Create(paths.dst);
    default:
        return 0;
    }
}

int RunCommand(const FileEntry *entry, const char *srcFolder, const char *folder, const char *id,
               HWND dialog)
{
    CommandPaths paths;
    if (!BuildSource(&paths, srcFolder, folder, entry)) {
        TracePrintf("\t\tpath too long - %s\n", entry->filename);
        return 0;
    }
    Progress(dialog, PROGRESS_SOURCE, paths.src);
    if (!BuildDestination(&paths, folder, entry)) {
        TracePrintf("\t\tpath too long - %s\n", entry->filename);
        return 0;
    }
    Progress(dialog, PROGRESS_DESTINATION, paths.dst);
    return RunHandler(entry, paths, folder, id, dialog);
}

// The result of the destination's last command run (1 when there is none):
// a failure ends its commands at once.
int RunCommands(int result, const char *srcFolder, const char *folder, const PtrList *commands,
                const char *id, HWND dialog)
{
    for (PtrNode *cursor = PtrListFirst(commands); cursor;) {
        const FileEntry *entry = (const FileEntry *)PtrListNextData(&cursor);
        result = RunCommand(entry, srcFolder, folder, id, dialog);
        if (result == 0)
            break;
        Progress(dialog, PROGRESS_STEP, nullptr);
        Sleep(200);
    }
    return result;
}

} // namespace

int Update(void *instance, const char *srcFolder, PtrList *dsts, const PtrList *commands,
           const char *id, int silent)
{
    TracePrintf("\t[%s]>>\n", "Update");
    int result = 1;
    HWND dialog = nullptr;
    if (!silent) {
        LPARAM steps = (LPARAM)PtrListCount(commands) * PtrListCount(dsts);
        dialog = CreateDialogParamA((HINSTANCE)instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                    ProgressDialogProc, steps);
    }
    while (!PtrListIsEmpty(dsts)) {
        char *folder = (char *)PtrListPopFront(dsts);
        // What a killed run left half-written here goes before anything new.
        ClearLeftovers(folder, 1);
        result = RunCommands(result, srcFolder, folder, commands, id, dialog);
        if (id && id[0] && result == 1)
            AddInstalledId(folder, id);
        free(folder);
    }
    if (dialog)
        DestroyWindow(dialog);
    TracePrintf("\tbResult = %d\n", result);
    TracePrintf("\t[%s]<<\n", "Update");
    return result;
}

int ReplaceDstPath(char *text, size_t size, const char *folder)
{
    char shortPath[MAX_PATH_BYTES];
    DWORD len = GetShortPathNameA(folder, shortPath, sizeof(shortPath));
    // The folder exists, so this is rare; its long form names it just as well.
    if (len == 0 || len >= sizeof(shortPath))
        if (!StrCopy(shortPath, sizeof(shortPath), folder))
            return 0;
    return ReplacePlaceholder(text, size, shortPath);
}
