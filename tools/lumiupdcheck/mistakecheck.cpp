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
