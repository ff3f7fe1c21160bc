// The update folder against the commands: files the commands take from it
// that are missing, and files in it that no command takes.
#include "checker.h"
#include "checkfs.h"

#include "base/strutil.h"

#include <stdlib.h>
#include <string.h>

namespace {

enum { WHAT_BUFFER = 700 };

struct FolderWalk {
    ScriptChecker *checker;
    char scriptName[MAX_PATH_BYTES];   // the script's file name
    char updaterName[MAX_PATH_BYTES];  // the updater that reads it: same base name, ".exe"
    int scriptFound;
    int updaterFound;
};

int IsUsed(const PtrList *used, const char *name)
{
    for (PtrNode *node = PtrListFirst(used); node; node = node->next) {
        if (AsciiStricmp((const char *)node->data, name) == 0)
            return 1;
    }
    return 0;
}

// A file the updater takes from the update folder by a relative name. Names
// holding %DSTPATH% come from the destination, absolute ones from elsewhere.
void CheckSourceFile(ScriptChecker *checker, const char *name, const char *role, const char *text)
{
    if (HasDstPath(name) || !IsRelativeScriptPath(name))
        return;
    char normal[MAX_PATH_BYTES];
    if (NormalizeRelativePath(name, normal, sizeof(normal)) && !IsUsed(checker->usedFiles, normal)) {
        char *copy = StrDup(normal);
        if (copy && !PtrListAppend(checker->usedFiles, copy))
            free(copy);
    }
    char path[MAX_PATH_BYTES];
    char what[WHAT_BUFFER];
    PathKind kind = JoinPath(path, sizeof(path), checker->updateFolder, name) ? KindOfPath(path) : PATH_MISSING;
    if (kind == PATH_FILE)
        return;
    snprintf(what, sizeof(what), "%s \"%s\" %s", role, name,
             kind == PATH_FOLDER ? "is a folder in the update folder, not a file" : "is missing from the update folder");
    LineFinding(&checker->log, checker->line, SEVERITY_WARNING, what, text);
}

// The file name part of a path ("\" or "/" ends a folder).
void NameUpdater(FolderWalk *walk, const char *scriptPath)
{
    StrCopy(walk->scriptName, sizeof(walk->scriptName), PathLastComponent(scriptPath));
    StrCopy(walk->updaterName, sizeof(walk->updaterName), walk->scriptName);
    char *dot = strrchr(walk->updaterName, '.');
    if (dot)
        *dot = '\0';
    if (!StrAppend(walk->updaterName, sizeof(walk->updaterName), ".exe"))
        walk->updaterName[0] = '\0';
}

void VisitFile(const char *relative, unsigned long long size, void *context)
{
    FolderWalk *walk = (FolderWalk *)context;
    walk->checker->folderFiles++;
    walk->checker->folderBytes += size;
    FindingLog *log = &walk->checker->log;
    char normal[MAX_PATH_BYTES];
    int used = NormalizeRelativePath(relative, normal, sizeof(normal)) && IsUsed(walk->checker->usedFiles, normal);
    if (AsciiStricmp(relative, walk->scriptName) == 0) {
        walk->scriptFound = 1;
        FolderFinding(log, SEVERITY_INFO, "the script (it counts in the disk-space check)", relative);
    } else if (AsciiStricmp(relative, "SHA256SUMS") == 0) {
        // What make package writes beside the files of a packaged folder.
        FolderFinding(log, SEVERITY_INFO, "the checksums make package writes (it counts in the disk-space check)",
                      relative);
    } else if (AsciiStricmp(relative, walk->updaterName) == 0) {
        walk->updaterFound = 1;
        FolderFinding(log, SEVERITY_INFO, "the updater that reads this script (it counts in the disk-space check)",
                      relative);
    } else if (!used) {
        FolderFinding(log, SEVERITY_WARNING, "no command uses this file; it still counts in the disk-space check",
                      relative);
    }
}

void VisitLink(const char *relative, void *context)
{
    FolderWalk *walk = (FolderWalk *)context;
    FolderFinding(&walk->checker->log, SEVERITY_WARNING,
                  "a link to a folder (junction or symbolic link): not looked into; the updater's disk-space "
                  "check passes it over too",
                  relative);
}

} // namespace

void CheckCommandFiles(ScriptChecker *checker, const FileEntry *entry, const char *text)
{
    if (entry->act == ACT_COPY) {
        CheckSourceFile(checker, entry->filename, "file", text);
    } else if (entry->act == ACT_DLL) {
        const AddOnExtra *pair = (const AddOnExtra *)entry->extra;
        CheckSourceFile(checker, entry->filename, "file", text);
        CheckSourceFile(checker, pair->dll, "plug-in", text);
    } else if (entry->act == ACT_EXE) {
        CheckSourceFile(checker, entry->filename, "program", text);
    }
}

void CheckFolderFiles(ScriptChecker *checker)
{
    FolderWalk walk;
    memset(&walk, 0, sizeof(walk));
    walk.checker = checker;
    NameUpdater(&walk, checker->scriptPath);
    if (!WalkFolderFilesEx(checker->updateFolder, VisitFile, VisitLink, &walk)) {
        FolderFinding(&checker->log, SEVERITY_WARNING, "the update folder cannot be listed", "");
        return;
    }
    if (!walk.scriptFound)
        FolderFinding(&checker->log, SEVERITY_WARNING,
                      "the script is not in the update folder: the updater reads the script beside it",
                      walk.scriptName);
    // A staging folder has none yet: make package and make try-update put
    // one in, so its absence is no fault of the folder.
    if (!walk.updaterFound)
        FolderFinding(&checker->log, SEVERITY_INFO,
                      "no updater of this name in the update folder (make package puts it in): an updater reads "
                      "only the script named after itself",
                      walk.updaterName);
}
