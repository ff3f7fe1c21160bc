#include "base/strutil.h"
#include "script/foldermacro.h"
#include "script/parser.h"

#include <stdlib.h>
#include <string.h>

namespace {

struct WholeValueCommand {
    const char *key;
    int act;
};

// Commands whose value is taken whole: "," and ";" belong to the file name.
const WholeValueCommand kWholeValueCommands[] = {
    {"copy", ACT_COPY}, {"remove", ACT_REMOVE}, {"log", ACT_LOG}, {"create", ACT_CREATE}};

int CopyText(char **out, const char *text)
{
    *out = StrDup(text);
    return *out ? 1 : 0;
}

ScriptLineOutcome Stored(int copied)
{
    return copied ? LINE_COMMAND_STORED : LINE_NO_MEMORY;
}

// act is set before extra so that FreeFileEntry releases a half-filled entry.
ScriptLineOutcome FillDll(FileEntry *entry, char *value, ScriptLineReport *report)
{
    char *pieces[SCRIPT_MAX_PIECES];
    report->valuePieces = SplitInPlace(value, pieces, SCRIPT_MAX_PIECES, ',');
    if (report->valuePieces != 3)
        return LINE_DLL_PIECES;
    AddOnExtra *pair = (AddOnExtra *)calloc(1, sizeof(AddOnExtra));
    if (!pair)
        return LINE_NO_MEMORY;
    entry->act = ACT_DLL;
    entry->extra = pair;
    return Stored(CopyText(&entry->filename, pieces[0]) && CopyText(&pair->dll, pieces[1]) &&
                  CopyText(&pair->func, pieces[2]));
}

// Parameters cannot hold ",": pieces after the second are dropped.
ScriptLineOutcome FillExe(FileEntry *entry, char *value, ScriptLineReport *report)
{
    char *pieces[SCRIPT_MAX_PIECES];
    report->valuePieces = SplitInPlace(value, pieces, SCRIPT_MAX_PIECES, ',');
    entry->act = ACT_EXE;
    if (!CopyText(&entry->filename, pieces[0]))
        return LINE_NO_MEMORY;
    if (report->valuePieces < 2)
        return LINE_COMMAND_STORED;
    char *parameters = nullptr;
    int copied = CopyText(&parameters, pieces[1]);
    entry->extra = parameters;
    return Stored(copied);
}

ScriptLineOutcome FillShortcut(FileEntry *entry, char *value, ScriptLineReport *report)
{
    char *pieces[SCRIPT_MAX_PIECES];
    report->valuePieces = SplitInPlace(value, pieces, SCRIPT_MAX_PIECES, ',');
    if (report->valuePieces != 2)
        return LINE_SHORTCUT_PIECES;
    entry->act = ACT_SHORTCUT;
    char *path = (char *)malloc(FOLDER_MACRO_BUFFER);
    if (!path)
        return LINE_NO_MEMORY;
    entry->extra = path;
    if (!CopyText(&entry->filename, pieces[1]))
        return LINE_NO_MEMORY;
    if (!StrCopy(path, FOLDER_MACRO_BUFFER, pieces[0]) || !FolderMacro(IsNotAdmin(), path))
        return LINE_SHORTCUT_MACRO;
    return LINE_COMMAND_STORED;
}

// An unknown key that is a known one with blanks around it is told apart:
// the line was meant as that key.
ScriptLineOutcome UnknownKey(const char *key, ScriptLineReport *report)
{
    char trimmed[SCRIPT_LINE_BUFFER];
    while (*key == ' ' || *key == '\t')
        key++;
    if (!StrCopy(trimmed, sizeof(trimmed), key))
        return LINE_UNKNOWN_KEY;
    size_t length = strlen(trimmed);
    while (length > 0 && (trimmed[length - 1] == ' ' || trimmed[length - 1] == '\t'))
        trimmed[--length] = '\0';
    report->key = KnownScriptKey(trimmed);
    return report->key ? LINE_KEY_WITH_BLANK : LINE_UNKNOWN_KEY;
}

ScriptLineOutcome FillEntry(FileEntry *entry, const char *key, char *value, ScriptLineReport *report)
{
    for (const WholeValueCommand &command : kWholeValueCommands) {
        if (AsciiStricmp(key, command.key) == 0) {
            report->key = command.key;
            report->act = command.act;
            entry->act = command.act;
            return Stored(CopyText(&entry->filename, value));
        }
    }
    report->key = KnownScriptKey(key);
    if (AsciiStricmp(key, "dll") == 0) {
        report->act = ACT_DLL;
        return FillDll(entry, value, report);
    }
    if (AsciiStricmp(key, "exe") == 0) {
        report->act = ACT_EXE;
        return FillExe(entry, value, report);
    }
    if (AsciiStricmp(key, "shortcut") == 0) {
        report->act = ACT_SHORTCUT;
        return FillShortcut(entry, value, report);
    }
    return UnknownKey(key, report);
}

} // namespace

int AddScriptCommand(const char *key, char *value, UpdateScript *script)
{
    ScriptLineReport report;
    memset(&report, 0, sizeof(report));
    return AddScriptCommandEx(key, value, script, &report);
}

int AddScriptCommandEx(const char *key, char *value, UpdateScript *script, ScriptLineReport *report)
{
    FileEntry *entry = (FileEntry *)calloc(1, sizeof(FileEntry));
    if (!entry) {
        report->outcome = LINE_NO_MEMORY;
        return 0;
    }
    report->outcome = FillEntry(entry, key, value, report);
    if (report->outcome == LINE_COMMAND_STORED && !PtrListAppend(script->commands, entry))
        report->outcome = LINE_NO_MEMORY;
    if (report->outcome != LINE_COMMAND_STORED) {
        FreeFileEntry(entry);
        return 0;
    }
    return 1;
}
