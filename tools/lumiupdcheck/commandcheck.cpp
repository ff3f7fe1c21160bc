// What a setting or command that the parser stored may still get wrong.
#include "checker.h"

#include "base/strutil.h"
#include "exec/shortcutname.h"

#include <string.h>

namespace {

enum { WHAT_BUFFER = 700 };

const char *const kRepeatableSettings[SETTING_KEYS] = {"id", "kakunin", "install", "success", "post", "atomic",
                                                       nullptr};

void Warn(ScriptChecker *checker, const char *what, const char *text)
{
    LineFinding(&checker->log, checker->line, SEVERITY_WARNING, what, text);
}

void CheckRepeatedSetting(ScriptChecker *checker, const char *key, const char *text)
{
    for (int i = 0; kRepeatableSettings[i]; i++) {
        if (strcmp(kRepeatableSettings[i], key) != 0)
            continue;
        if (checker->settingLines[i]) {
            char what[WHAT_BUFFER];
            snprintf(what, sizeof(what), "\"%s\" is set again: this replaces the value of line %ld", key,
                     checker->settingLines[i]);
            Warn(checker, what, text);
        }
        checker->settingLines[i] = checker->line;
    }
}

// The expansion puts one backslash between the folder and the rest: a rest
// that starts with one gives two in a row.
void CheckMacroRest(ScriptChecker *checker, const char *value, const char *text)
{
    const char *close = value[0] == '%' ? strchr(value + 1, '%') : nullptr;
    if (close && close[1] == '\\')
        Warn(checker, "the path after the folder macro starts with \"\\\": the expanded path holds two in a row",
             text);
}

// The patterns of one "target" line, as the parser split them.
void CheckTargetPatterns(ScriptChecker *checker, const char *value, const char *text)
{
    char work[SCRIPT_LINE_BUFFER];
    StrCopy(work, sizeof(work), value);
    char *pieces[SCRIPT_MAX_PIECES];
    int count = SplitInPlace(work, pieces, SCRIPT_MAX_PIECES, ';');
    char what[WHAT_BUFFER];
    for (int i = 0; i < count && i < SCRIPT_MAX_PIECES; i++) {
        const char *pattern = pieces[i];
        size_t length = strlen(pattern);
        if (length == 0) {
            Warn(checker,
                 "empty target pattern (\"target=\" or a \";\" at an end): it accepts every installed copy "
                 "whose RT_IDX.DAT can be read",
                 text);
        } else if (strchr(" \t", pattern[0]) || strchr(" \t", pattern[length - 1])) {
            snprintf(what, sizeof(what), "target pattern \"%s\" holds a blank: patterns are compared as written",
                     pattern);
            Warn(checker, what, text);
        } else if (pattern[0] != '-' && pattern[length - 1] != '-' && strchr(pattern, '-')) {
            snprintf(what, sizeof(what),
                     "target pattern \"%s\" is no range: it accepts versions whose text starts with it", pattern);
            Warn(checker, what, text);
        }
    }
}

void CheckLogComment(ScriptChecker *checker, const char *value, const char *text)
{
    int slashes = CountByte(value, '/');
    if (slashes == 1)
        return;
    char what[WHAT_BUFFER];
    snprintf(what, sizeof(what),
             slashes ? "\"log\" comment holds %d \"/\": the history line's second part takes all after the first one"
                     : "\"log\" comment holds %d \"/\": the history line's second part stays empty",
             slashes);
    Warn(checker, what, text);
}

void CheckShortcutName(ScriptChecker *checker, const FileEntry *entry, const char *text)
{
    const char *path = (const char *)entry->extra;
    const char *name = ShortcutNameOf(path);
    char what[WHAT_BUFFER];
    if (!name || !name[0]) {
        snprintf(what, sizeof(what), "shortcut path \"%s\" ends without a name", path);
        Warn(checker, what, text);
    } else if (!IsValidShortcutName(name)) {
        snprintf(what, sizeof(what),
                 "shortcut name \"%s\" holds one of \\ / : * \" < > . | ? and the \"shortcut\" command "
                 "refuses it when it runs",
                 name);
        Warn(checker, what, text);
    } else if (strlen(path) + strlen(".lnk") > SCRIPT_LINE_BUFFER - 1) {
        snprintf(what, sizeof(what),
                 "shortcut path with \".lnk\" is longer than %d bytes: the \"shortcut\" command refuses it",
                 SCRIPT_LINE_BUFFER - 1);
        Warn(checker, what, text);
    }
}

void CheckExePieces(ScriptChecker *checker, const ScriptLineReport *report, const char *text)
{
    if (report->valuePieces <= 2)
        return;
    char what[WHAT_BUFFER];
    snprintf(what, sizeof(what),
             "\"exe\" value has %d pieces: only the program and its parameters (the first two) are used, "
             "parameters cannot hold \",\"%s",
             report->valuePieces,
             report->valuePieces > SCRIPT_MAX_PIECES ? "; more pieces than the 16 a split holds" : "");
    Warn(checker, what, text);
}

// Commands whose file names only ever make destination paths, where the
// placeholder is never replaced.
void CheckDestinationOnlyPlaceholder(ScriptChecker *checker, const FileEntry *entry, const char *text)
{
    if (entry->act != ACT_REMOVE && entry->act != ACT_CREATE && entry->act != ACT_SHORTCUT)
        return;
    if (HasDstPath(entry->filename))
        Warn(checker, "%DSTPATH% is not replaced in this command's file name: it names a path in the destination",
             text);
}

} // namespace

void CheckStoredSetting(ScriptChecker *checker, const ScriptLineReport *report, const char *value,
                        const char *text)
{
    CheckRepeatedSetting(checker, report->key, text);
    // A target pattern's blanks are told pattern by pattern.
    if (strcmp(report->key, "target") == 0) {
        CheckTargetSeparator(checker, value, text);
        CheckTargetPatterns(checker, value, text);
    } else {
        CheckValueBlanks(checker, value, text);
    }
    int folderMacro = strcmp(report->key, "install") == 0 || strcmp(report->key, "post") == 0;
    if (folderMacro)
        CheckMacroRest(checker, value, text);
    CheckLiteralMacros(checker, value, folderMacro, text);
}

void CheckStoredCommand(ScriptChecker *checker, const ScriptLineReport *report, const char *value,
                        const char *text)
{
    const FileEntry *entry = (const FileEntry *)PtrListLast(checker->script.commands)->data;
    PtrListAppend(checker->commandLines, (void *)(size_t)checker->line);
    if (entry->act != ACT_LOG && entry->filename[0] == '\0')
        Warn(checker, "empty file name: the command names the folder itself", text);
    if (HasMiscasedDstPath(value))
        Warn(checker, "%DSTPATH% in other letter case is not replaced: write it in capitals", text);
    CheckDestinationOnlyPlaceholder(checker, entry, text);
    CheckValueBlanks(checker, value, text);
    CheckCommandPercents(checker, entry, value, text);
    CheckLiteralMacros(checker, value, entry->act == ACT_SHORTCUT, text);
    CheckDataVersionOrder(checker, entry, text);
    if (entry->act == ACT_CREATE)
        CheckCreateOrder(checker, entry, text);
    if (entry->act == ACT_EXE)
        CheckExePieces(checker, report, text);
    else if (entry->act == ACT_LOG)
        CheckLogComment(checker, value, text);
    else if (entry->act == ACT_SHORTCUT) {
        CheckMacroRest(checker, value, text);
        CheckShortcutName(checker, entry, text);
    }
    if (checker->updateFolder)
        CheckCommandFiles(checker, entry, text);
}
