#include "exec/update.h"

#include "base/mbcs.h"
#include "base/runrecord.h"
#include "base/safefile.h"
#include "base/strutil.h"
#include "base/tracelog.h"
#include "exec/addon.h"
#include "exec/atomic.h"
#include "exec/filecmd.h"
#include "exec/filereplace.h"
#include "exec/recover.h"
#include "exec/history.h"
#include "exec/replacedst.h"
#include "exec/shortcut.h"
#include "exec/undo.h"
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

// 0 when a path does not fit its buffer: a command that uses it then fails
// rather than act on a cut path.
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

// In a destination updated all or nothing the file commands prepare their
// changes; what a plug-in or program may need is made before it runs.
int RunPrepared(const FileEntry *entry, const CommandPaths &paths, const char *folder, const char *id,
                HWND dialog, AtomicUpdate *atomic)
{
    const char *changed = entry->act == ACT_LOG ? nullptr : paths.dst;
    if (entry->act == ACT_LOG || entry->act == ACT_COPY || entry->act == ACT_REMOVE || entry->act == ACT_CREATE) {
        char history[MAX_PATH_BYTES];
        if (!changed && JoinPath(history, sizeof(history), folder, "update.log"))
            changed = history;
        if (changed && IsPrepared(atomic, changed) && !MakePrepared(atomic))
            return 0;
    } else if (!MakePrepared(atomic)) {
        return 0;
    }
    switch (entry->act) {
    case ACT_COPY:
        return CopyPrepared(atomic, paths.src, paths.dst, dialog);
    case ACT_REMOVE:
        return DeletePrepared(atomic, paths.dst, dialog);
    case ACT_LOG:
        return LogPrepared(atomic, folder, entry->filename, id);
    case ACT_CREATE:
        return CreatePrepared(atomic, paths.dst);
    default:
        return -1;
    }
}

int RunHandler(const FileEntry *entry, const CommandPaths &paths, const char *folder,
               const char *id, HWND dialog, AtomicUpdate *atomic)
{
    int prepared = atomic ? RunPrepared(entry, paths, folder, id, dialog, atomic) : -1;
    if (prepared >= 0)
        return prepared;
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

// Which paths a command's handler is given; an unknown command fails anyway,
// and is taken to need both. A path the command does not use only feeds the
// dialog's labels, so it cannot fail the command.
int UsesSource(int act)
{
    return act != ACT_REMOVE && act != ACT_SHORTCUT && act != ACT_LOG && act != ACT_CREATE;
}

int UsesDestination(int act)
{
    return act != ACT_EXE && act != ACT_SHORTCUT && act != ACT_LOG;
}

// Appends as much of text as fits in size bytes after the first *used ones,
// never half a double-byte character.
void AppendCut(char *out, size_t size, size_t *used, const char *text)
{
    size_t n = *used;
    for (const unsigned char *p = (const unsigned char *)text; *p;) {
        size_t width = (MbIsLeadByte(*p) && p[1]) ? 2 : 1;
        if (n + width >= size)
            break;
        for (size_t i = 0; i < width; i++)
            out[n++] = (char)*p++;
    }
    out[n] = '\0';
    *used = n;
}

// For the label only: the source path, cut where a label stops drawing.
void CutSource(CommandPaths *paths, const char *srcFolder, const FileEntry *entry)
{
    const char *text = paths->text[0] ? paths->text : entry->filename;
    size_t used = 0;
    paths->src[0] = '\0';
    if (PathIsRelativeA(text))
        AppendCut(paths->src, MAX_PATH_BYTES, &used, srcFolder);
    AppendCut(paths->src, MAX_PATH_BYTES, &used, text);
}

void CutDestination(CommandPaths *paths, const char *folder, const FileEntry *entry)
{
    size_t used = 0;
    paths->dst[0] = '\0';
    AppendCut(paths->dst, MAX_PATH_BYTES, &used, folder);
    AppendCut(paths->dst, MAX_PATH_BYTES, &used, entry->filename);
}

// The file a failed command is about, for the run's record: the program or
// plug-in it runs, the link it makes, else the file it writes or removes. A
// handler that knows better (a copy's unreadable source) noted it first.
const char *FaultPathOf(const FileEntry *entry, const CommandPaths &paths)
{
    if (entry->act == ACT_EXE)
        return paths.src;
    if (entry->act == ACT_DLL && entry->extra)
        return ((const AddOnExtra *)entry->extra)->dll;
    if (entry->act == ACT_SHORTCUT)
        return (const char *)entry->extra;
    return paths.dst;
}

int TooLong(const FileEntry *entry)
{
    TracePrintf("\t\tpath too long - %s\n", entry->filename);
    RecordFaultPath(entry->filename);
    return 0;
}

int RunCommand(const FileEntry *entry, const char *srcFolder, const char *folder, const char *id,
               HWND dialog, AtomicUpdate *atomic)
{
    CommandPaths paths;
    paths.text[0] = '\0';
    if (!BuildSource(&paths, srcFolder, folder, entry)) {
        if (UsesSource(entry->act))
            return TooLong(entry);
        CutSource(&paths, srcFolder, entry);
    }
    Progress(dialog, PROGRESS_SOURCE, paths.src);
    if (!BuildDestination(&paths, folder, entry)) {
        if (UsesDestination(entry->act))
            return TooLong(entry);
        CutDestination(&paths, folder, entry);
    }
    Progress(dialog, PROGRESS_DESTINATION, paths.dst);
    int ok = RunHandler(entry, paths, folder, id, dialog, atomic);
    RecordFaultPath(FaultPathOf(entry, paths));
    return ok;
}

// The result of the destination's last command run (1 when there is none):
// a failure ends its commands at once.
int RunCommands(int result, const char *srcFolder, const char *folder, const PtrList *commands,
                const char *id, HWND dialog, AtomicUpdate *atomic)
{
    for (PtrNode *cursor = PtrListFirst(commands); cursor;) {
        const FileEntry *entry = (const FileEntry *)PtrListNextData(&cursor);
        result = RunCommand(entry, srcFolder, folder, id, dialog, atomic);
        RecordCommand(result);
        if (result == 0)
            break;
        Progress(dialog, PROGRESS_STEP, nullptr);
        // The benchmark's own build of the updater times the commands alone.
#ifndef LUMIUPD_BENCH_BUILD
        Sleep(200);
#endif
    }
    return result;
}

// The id's registration prepared with the rest, so that the last burst
// makes both; after it when a command of that burst changes the settings
// file itself.
int RegisterPrepared(AtomicUpdate *atomic, const char *folder, const char *id)
{
    char settings[MAX_PATH_BYTES];
    if (!id || !id[0])
        return MakePrepared(atomic);
    if (!JoinPath(settings, sizeof(settings), folder, "MIRO42.INI") ||
        (IsPrepared(atomic, settings) && !MakePrepared(atomic)))
        return 0;
    return PrepareInstalledId(atomic, folder, id) && MakePrepared(atomic);
}

// One destination's commands all or nothing: the id registered with them,
// or every change they made undone.
int RunAtomicDestination(const char *srcFolder, const char *folder, const PtrList *commands, const char *id,
                         HWND dialog)
{
    AtomicUpdate *atomic = StartAtomic(folder);
    if (!atomic)
        return 0;
    int commandsDone = RunCommands(1, srcFolder, folder, commands, id, dialog, atomic) == 1;
    int result = commandsDone && RegisterPrepared(atomic, folder, id) && FinishAtomic(atomic);
    if (!result) {
        // A failed command told why in its own lines.
        if (commandsDone) {
            char *text = GetLastErrorText();
            TracePrintf("\t\tupdate not made - %s", text);
            LocalFree(text);
        }
        UndoAtomic(atomic);
    }
    EndAtomic(atomic);
    return result;
}

// Clears folder once: a folder already in swept is passed over.
void ClearOnce(PtrList *swept, const char *folder)
{
    for (PtrNode *cursor = PtrListFirst(swept); cursor;)
        if (AsciiStricmp((const char *)PtrListNextData(&cursor), folder) == 0)
            return;
    char *copy = StrDup(folder);
    if (copy && !PtrListAppend(swept, copy))
        free(copy);
    // A write in place cut short there is finished before its copy could
    // be taken for a leftover; one that cannot be keeps them all.
    if (FinishCutShort(folder))
        ClearLeftovers(folder);
}

void ClearCopyFolders(PtrList *swept, const char *folder, const PtrList *commands)
{
    CommandPaths paths;
    for (PtrNode *cursor = PtrListFirst(commands); cursor;) {
        const FileEntry *entry = (const FileEntry *)PtrListNextData(&cursor);
        if (entry->act != ACT_COPY || !BuildDestination(&paths, folder, entry))
            continue;
        char *slash = MbsRChr(paths.dst, '\\');
        if (slash) {
            slash[1] = '\0';
            ClearOnce(swept, paths.dst);
        }
    }
}

} // namespace

void ClearLeftoversFor(const PtrList *dsts, const PtrList *commands)
{
    PtrList *swept = PtrListCreate();
    if (!swept)
        return;
    for (PtrNode *cursor = PtrListFirst(dsts); cursor;) {
        const char *folder = (const char *)PtrListNextData(&cursor);
        FolderHold hold;
        HoldFolder(&hold, folder);
        ClearOnce(swept, folder);
        ClearCopyFolders(swept, folder, commands);
        ReleaseFolder(&hold);
    }
    PtrListFreeStrings(swept);
}

int Update(void *instance, const char *srcFolder, PtrList *dsts, const PtrList *commands,
           const char *id, int silent, int atomic)
{
    TracePrintf("\t[%s]>>\n", "Update");
    int result = 1;
    HWND dialog = nullptr;
    if (!silent) {
        LPARAM steps = (LPARAM)PtrListCount(commands) * PtrListCount(dsts);
        dialog = CreateDialogParamA((HINSTANCE)instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                    ProgressDialogProc, steps);
        if (dialog)
            DrawProgressDialog(dialog);
    }
    // A destination left half done fails the run, whatever the ones after it
    // did: a later success must not report it, nor start the post program.
    int anyFailed = 0;
    while (!PtrListIsEmpty(dsts)) {
        char *folder = (char *)PtrListPopFront(dsts);
        RecordFolderStart(folder);
        // Where the folder leads is taken once, for all its commands and its
        // settings file; a folder that cannot be held is checked as before.
        FolderHold hold;
        HoldFolder(&hold, folder);
        if (atomic)
            result = RunAtomicDestination(srcFolder, folder, commands, id, dialog);
        else
            result = RunCommands(result, srcFolder, folder, commands, id, dialog, nullptr);
        if (result != 1)
            anyFailed = 1;
        else if (!atomic && id && id[0])
            AddInstalledId(folder, id);
        // What this destination got is on disk before the closing box.
        MakeDurable(folder);
        ReleaseFolder(&hold);
        free(folder);
    }
    if (anyFailed)
        result = 0;
    if (dialog)
        DestroyWindow(dialog);
    TracePrintf("\tbResult = %d\n", result);
    TracePrintf("\t[%s]<<\n", "Update");
    return result;
}

int CommandPathsFor(const char *srcFolder, const char *folder, const FileEntry *entry, char *src, char *dst)
{
    CommandPaths paths;
    int built = 0;
    if (BuildSource(&paths, srcFolder, folder, entry) && StrCopy(src, EXEC_TEXT_BUFFER, paths.src))
        built |= 1;
    if (BuildDestination(&paths, folder, entry) && StrCopy(dst, EXEC_TEXT_BUFFER, paths.dst))
        built |= 2;
    return built;
}

int ReplaceDstPath(char *text, size_t size, const char *folder)
{
    // Every command's file name comes through here; the short path costs a
    // look at each folder on the way (a server round trip each under Wine).
    if (!HasPlaceholder(text))
        return 1;
    char shortPath[MAX_PATH_BYTES];
    DWORD len = GetShortPathNameA(folder, shortPath, sizeof(shortPath));
    // The folder exists, so this is rare; its long form names it just as well.
    if (len == 0 || len >= sizeof(shortPath))
        if (!StrCopy(shortPath, sizeof(shortPath), folder))
            return 0;
    return ReplacePlaceholder(text, size, shortPath);
}
