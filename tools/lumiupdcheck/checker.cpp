#include "checker.h"
#include "checkfs.h"

#include "base/strutil.h"
#include "base/messages.h"

#include <stdlib.h>
#include <string.h>

namespace {

int StartChecker(ScriptChecker *checker, const char *scriptPath, const char *updateFolder, FILE *out)
{
    memset(checker, 0, sizeof(*checker));
    InitFindingLog(&checker->log, out, scriptPath, updateFolder);
    checker->scriptPath = scriptPath;
    checker->updateFolder = updateFolder;
    checker->line = 1;
    checker->usedFiles = PtrListCreate();
    checker->commandLines = PtrListCreate();
    return InitUpdateScript(&checker->script) && checker->usedFiles && checker->commandLines;
}

void StopChecker(ScriptChecker *checker)
{
    FreeUpdateScript(&checker->script);
    if (checker->usedFiles)
        PtrListFreeStrings(checker->usedFiles);
    // The line numbers are held in the node pointers: nothing to free but the nodes.
    while (checker->commandLines && !PtrListIsEmpty(checker->commandLines))
        PtrListPopFront(checker->commandLines);
    PtrListDestroy(checker->commandLines);
}

// A plug-in or program of an all-or-nothing update: the updater undoes the
// file changes of the destination when a later command fails, never what
// the plug-in or program did itself.
void NoteOutOfReach(ScriptChecker *checker)
{
    char lines[200] = "";
    int found = 0;
    PtrNode *line = PtrListFirst(checker->commandLines);
    for (PtrNode *node = PtrListFirst(checker->script.commands); node && line; node = node->next, line = line->next) {
        int act = ((const FileEntry *)node->data)->act;
        if (act != ACT_DLL && act != ACT_EXE)
            continue;
        char number[24];
        snprintf(number, sizeof(number), "%s%ld", found++ ? ", " : "", (long)(size_t)line->data);
        // Cut short with "..." rather than overrun: the lines are for reading.
        if (!StrAppend(lines, sizeof(lines) - 4, number)) {
            StrAppend(lines, sizeof(lines), "...");
            break;
        }
    }
    if (!found)
        return;
    char what[400];
    snprintf(what, sizeof(what),
             "\"atomic=1\" with a plug-in or program (line %s): the file commands before it are in place when "
             "it runs, and if a later command fails the updater undoes the destination's file changes, not what "
             "the plug-in or program did itself",
             lines);
    ScriptFinding(&checker->log, SEVERITY_INFO, what);
}

void CheckWholeScript(ScriptChecker *checker)
{
    if (!checker->script.id)
        ScriptFinding(&checker->log, SEVERITY_WARNING,
                      "no \"id\": the update is not registered in INSTALLED of MIRO42.INI");
    else if (!checker->script.id[0])
        ScriptFinding(&checker->log, SEVERITY_WARNING,
                      "empty \"id\": the update is not registered in INSTALLED of MIRO42.INI");
    if (PtrListIsEmpty(checker->script.targets))
        ScriptFinding(&checker->log, SEVERITY_WARNING,
                      "no \"target\": no installed copy can pass the version check (only the install folder "
                      "can be updated)");
    if (checker->script.atomic)
        NoteOutOfReach(checker);
}

int IsBlankByte(int c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0x1A;
}

// In text mode a 0x1A byte ends the file: the updater reads nothing after
// it. One at the very end (an old editor's end mark) hides nothing.
void CheckEndOfText(ScriptChecker *checker)
{
    FILE *file = OpenCheckedFile(checker->scriptPath, "rb");
    if (!file)
        return;
    long line = 1;
    char text[SCRIPT_LINE_BUFFER];
    size_t column = 0, kept = 0;
    int c;
    while ((c = fgetc(file)) != EOF && c != 0x1A) {
        if (c == '\n') {
            line++;
            column = kept = 0;
            continue;
        }
        column++;
        if (kept < sizeof(text) - 1)
            text[kept++] = (char)c;
    }
    text[kept] = '\0';
    text[strcspn(text, "\r")] = '\0';
    long hidden = 0;
    int holdsText = 0;
    if (c == 0x1A) {
        while ((c = fgetc(file)) != EOF) {
            hidden++;
            holdsText |= !IsBlankByte(c);
        }
    }
    fclose(file);
    if (!holdsText)
        return;
    char what[200];
    snprintf(what, sizeof(what),
             "byte 0x1A at column %u ends the script for the updater (a text file ends there): the %ld bytes "
             "after it are never read",
             (unsigned)column + 1, hidden);
    LineFinding(&checker->log, line, SEVERITY_WARNING, what, text);
}

// A script saved as UTF-8 is read as code page 932 all the same: every
// Japanese text comes out garbled. One finding says it for the whole file.
void CheckUtf8Script(ScriptChecker *checker)
{
    FILE *file = OpenCheckedFile(checker->scriptPath, "rb");
    if (!file)
        return;
    const size_t most = 1 << 20;
    unsigned char *bytes = (unsigned char *)malloc(most);
    size_t length = bytes ? fread(bytes, 1, most, file) : 0;
    fclose(file);
    int marked = length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
    int utf8 = marked || (bytes && LooksLikeUtf8(bytes, length));
    free(bytes);
    if (!utf8)
        return;
    checker->utf8Script = 1;
    ScriptFinding(&checker->log, SEVERITY_ERROR,
                  "the script is saved as UTF-8: the updater reads it as Shift-JIS (CP932) and shows its "
                  "Japanese texts garbled; save it as Shift-JIS");
}

void PrintResult(const ScriptChecker *checker, int accepted)
{
    FILE *out = checker->log.out;
    if (accepted)
        fprintf(out, "RESULT: accepted");
    else
        fprintf(out, "RESULT: refused at line %ld: the updater shows \"%s\" and ends with code 2",
                checker->firstRejectedLine, MessageTable[RESULT_BAD_SCRIPT]);
    fprintf(out, " (%d error%s, %d warning%s)\n", checker->log.errors, checker->log.errors == 1 ? "" : "s",
            checker->log.warnings, checker->log.warnings == 1 ? "" : "s");
}

int CheckOpenedScript(ScriptChecker *checker, FILE *file, int strict)
{
    CheckUtf8Script(checker);
    int accepted = ReadScriptStreamEx(file, &checker->script, CheckScriptLine, checker);
    CheckEndOfText(checker);
    // What a refused script lacks says little: the line that refused it may
    // be the very "id" or "target" line.
    if (accepted)
        CheckWholeScript(checker);
    if (checker->updateFolder)
        CheckFolderFiles(checker);
    if (accepted)
        PrintSummary(checker);
    PrintResult(checker, accepted);
    // The exit code is the updater's verdict; a strict pipeline stops on
    // every finding as well.
    int failed = !accepted || (strict && (checker->log.errors > 0 || checker->log.warnings > 0));
    return failed ? CHECK_REFUSED : CHECK_ACCEPTED;
}

} // namespace

int RunScriptCheck(const char *scriptPath, const char *updateFolder, FILE *out, int strict)
{
    char folder[MAX_PATH_BYTES];
    if (updateFolder) {
        if (!StrCopy(folder, sizeof(folder), updateFolder) || !AddBackslash(folder, sizeof(folder)) ||
            KindOfPath(folder) != PATH_FOLDER) {
            PathFinding(out, updateFolder, "not a folder");
            return CHECK_UNREADABLE;
        }
        updateFolder = folder;
    }
    // Opened the way the updater opens it, so that every byte reaches the
    // parser exactly as it reaches the updater's.
    FILE *file = OpenCheckedFile(scriptPath, "rt");
    if (!file) {
        PathFinding(out, scriptPath, "the script cannot be opened");
        return CHECK_UNREADABLE;
    }
    ScriptChecker *checker = (ScriptChecker *)calloc(1, sizeof(ScriptChecker));
    int result = CHECK_UNREADABLE;
    if (checker && StartChecker(checker, scriptPath, updateFolder, out))
        result = CheckOpenedScript(checker, file, strict);
    else
        PathFinding(out, scriptPath, "out of memory");
    if (checker)
        StopChecker(checker);
    free(checker);
    fclose(file);
    return result;
}

int ListTakenFiles(const char *scriptPath, const char *updateFolder, PtrList *names)
{
    FILE *file = OpenCheckedFile(scriptPath, "rt");
    if (!file)
        return 0;
    ScriptChecker *checker = (ScriptChecker *)calloc(1, sizeof(ScriptChecker));
    int ok = checker && StartChecker(checker, scriptPath, updateFolder, nullptr);
    if (ok) {
        ReadScriptStreamEx(file, &checker->script, CheckScriptLine, checker);
        while (ok && !PtrListIsEmpty(checker->usedFiles)) {
            char *name = (char *)PtrListPopFront(checker->usedFiles);
            ok = PtrListAppend(names, name) != nullptr;
            if (!ok)
                free(name);
        }
    }
    if (checker)
        StopChecker(checker);
    free(checker);
    fclose(file);
    return ok;
}

namespace {

enum CheckArgsResult { CHECK_ARGS_BAD, CHECK_ARGS_OK, CHECK_ARGS_HELP };

CheckArgsResult ReadCheckArgs(int argc, char **argv, CheckArgs *args)
{
    memset(args, 0, sizeof(*args));
    int positional = 0;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0 || strcmp(arg, "/?") == 0)
            return CHECK_ARGS_HELP;
        if (strcmp(arg, "--strict") == 0)
            args->strict = 1;
        else if (positional == 0)
            args->script = arg, positional++;
        else if (positional == 1)
            args->folder = arg, positional++;
        else
            return CHECK_ARGS_BAD;
    }
    return args->script ? CHECK_ARGS_OK : CHECK_ARGS_BAD;
}

} // namespace

int ParseCheckArgs(int argc, char **argv, const char *name, CheckArgs *args)
{
    CheckArgsResult parsed = ReadCheckArgs(argc, argv, args);
    if (parsed == CHECK_ARGS_OK)
        return -1;
    fprintf(parsed == CHECK_ARGS_HELP ? stdout : stderr,
            "usage: %s [--strict] SCRIPT [UPDATE_FOLDER]\n"
            "       %s --verify PACKAGED_FOLDER\n"
            "       %s --result FILE\n"
            "  checks an update script as the updater reads it, and the update folder against its commands\n"
            "  --strict  every finding fails the check (exit 1), for release pipelines\n"
            "  --verify  checks a folder made by make package against the manifest in its updater\n"
            "            (lumiupd-check only): exit 1 when a file is missing, changed or not listed\n"
            "  --result  shows the result file of a run (-result=FILE) or a dry run's report\n"
            "            (lumiupd-check only): exit 1 when the result file is damaged\n"
            "  exit 0: the updater accepts the script, 1: it refuses it (or, with --strict, a finding),\n"
            "  2: nothing could be checked\n",
            name, name, name);
    return parsed == CHECK_ARGS_HELP ? CHECK_ACCEPTED : CHECK_UNREADABLE;
}
