// The usual mistakes of script authors: lines the updater takes without a
// word and that still fail on customers' machines.
#include "checker.h"

#include "base/strutil.h"

#include <string.h>

namespace {

enum { WHAT_BUFFER = 700 };

void Warn(ScriptChecker *checker, long line, const char *what, const char *text)
{
    LineFinding(&checker->log, line, SEVERITY_WARNING, what, text);
}

int IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The folder part of a relative file name ("data\NEW.DAT" gives "data"):
// 0 when it has none.
int FolderOf(const char *name, char *folder, size_t size)
{
    char normal[SCRIPT_LINE_BUFFER];
    if (!NormalizeRelativePath(name, normal, sizeof(normal)) || !StrCopy(folder, size, normal))
        return 0;
    char *slash = MbsRChr(folder, '\\');
    if (!slash)
        return 0;
    *slash = '\0';
    return 1;
}

// 1 when folder is dir or lies inside it, ASCII letter case aside.
int IsWithin(const char *folder, const char *dir)
{
    size_t n = strlen(dir);
    if (n == 0 || strlen(folder) < n)
        return 0;
    char head[SCRIPT_LINE_BUFFER];
    memcpy(head, folder, n);
    head[n] = '\0';
    return AsciiStricmp(head, dir) == 0 && (folder[n] == '\0' || folder[n] == '\\');
}

} // namespace

void CheckValueBlanks(ScriptChecker *checker, const char *value, const char *text)
{
    size_t n = strlen(value);
    if (n > 0 && (IsBlank(value[0]) || IsBlank(value[n - 1])))
        Warn(checker, checker->line,
             "the value starts or ends with a blank, which the updater keeps as part of it", text);
}

void CheckTargetSeparator(ScriptChecker *checker, const char *value, const char *text)
{
    if (strchr(value, ','))
        Warn(checker, checker->line,
             "\"target\" holds \",\": patterns are separated by \";\" (target=1.1;1.2), so this is one pattern",
             text);
}

// "%DSTPATH%" stands for a short path that ends in a backslash: in quotes,
// that backslash escapes the closing quote and the program receives a path
// ending in '"'. The short path holds no blank and needs no quotes.
void CheckCommandPercents(ScriptChecker *checker, const FileEntry *entry, const char *value, const char *text)
{
    const char *params = entry->act == ACT_EXE ? (const char *)entry->extra : nullptr;
    if (params && strstr(params, "%DSTPATH%\""))
        Warn(checker, checker->line,
             "\"%DSTPATH%\" in double quotes: its closing backslash escapes the quote and the program gets a "
             "path ending in '\"'; write %DSTPATH% without quotes",
             text);
    if (CountByte(value, '%') % 2)
        Warn(checker, checker->line, "a lone \"%\": a placeholder lacks its closing \"%\" (%DSTPATH%)", text);
}

// A "create" after copies into its folder: on an installed copy that does
// not have the folder yet, those copies fail before the folder is made.
void CheckCreateOrder(ScriptChecker *checker, const FileEntry *create, const char *text)
{
    char dir[SCRIPT_LINE_BUFFER], folder[SCRIPT_LINE_BUFFER];
    if (!NormalizeRelativePath(create->filename, dir, sizeof(dir)))
        return;
    PtrNode *lines = PtrListFirst(checker->commandLines);
    for (PtrNode *node = PtrListFirst(checker->script.commands); node && node->data != create;
         node = node->next, lines = lines ? lines->next : nullptr) {
        const FileEntry *entry = (const FileEntry *)node->data;
        if (entry->act != ACT_COPY || !FolderOf(entry->filename, folder, sizeof(folder)) ||
            !IsWithin(folder, dir))
            continue;
        char what[WHAT_BUFFER];
        snprintf(what, sizeof(what),
                 "line %ld writes into \"%s\" before this line makes it: where the folder is missing that "
                 "command fails first; put the \"create\" before it",
                 lines ? (long)(size_t)lines->data : 0L, dir);
        Warn(checker, checker->line, what, text);
    }
}

// The data version is what the version check reads: once the new one is in,
// the installed copy no longer passes the update's own "target". Copied
// before a command that then fails, it leaves a copy that is half updated
// and refuses the same update run again. A "log" cannot fail (its handler
// always succeeds), so only the first command after the copy that can is
// told: a warning every script with a history line met taught people to
// pass over warnings.
void CheckDataVersionOrder(ScriptChecker *checker, const FileEntry *entry, const char *text)
{
    if (checker->dataVersionLine && !checker->dataVersionTold && entry->act != ACT_LOG) {
        char what[WHAT_BUFFER];
        snprintf(what, sizeof(what),
                 "line %ld copies the data version file (RT_IDX.DAT) before this command: should this or a later "
                 "command fail, the installed copy already has the new version and the version check refuses the "
                 "same update run again; copy RT_IDX.DAT last",
                 checker->dataVersionLine);
        Warn(checker, checker->line, what, text);
        checker->dataVersionTold = 1;
    }
    char normal[SCRIPT_LINE_BUFFER];
    if (entry->act == ACT_COPY && !checker->dataVersionLine &&
        NormalizeRelativePath(entry->filename, normal, sizeof(normal)) && AsciiStricmp(normal, "RT_IDX.DAT") == 0)
        checker->dataVersionLine = checker->line;
}

namespace {

int IsMacroNameByte(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

} // namespace

// "%DESKTOP%" and its kind are expanded only at the start of a folder macro
// path; anywhere else the updater looks for a file named with the percent
// signs, which is never there. %DSTPATH% has checks of its own. A '%' is
// never a trail byte in CP932, so the scan cannot start inside a character.
void CheckLiteralMacros(ScriptChecker *checker, const char *value, int leadingMacro, const char *text)
{
    const char *p = value;
    if (leadingMacro && value[0] == '%' && strchr(value + 1, '%'))
        p = strchr(value + 1, '%') + 1;
    while ((p = strchr(p, '%')) != nullptr) {
        const char *name = p + 1;
        size_t n = 0;
        while (IsMacroNameByte(name[n]))
            n++;
        if (n == 0 || name[n] != '%') {
            p = name;
            continue;
        }
        char macro[SCRIPT_LINE_BUFFER];
        snprintf(macro, sizeof(macro), "%.*s", (int)n, name);
        if (AsciiStricmp(macro, "DSTPATH") != 0) {
            char what[WHAT_BUFFER];
            snprintf(what, sizeof(what),
                     "\"%%%s%%\" is not expanded here: the updater takes it as written (a folder macro works only "
                     "at the start of \"install\", \"post\" and a shortcut's path)",
                     macro);
            Warn(checker, checker->line, what, text);
        }
        p = name + n + 1;
    }
}
