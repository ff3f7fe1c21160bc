#include "script/parser.h"

#include "base/strutil.h"
#include "script/foldermacro.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Every key the script knows, in the order the parser tries them.
const char *const kScriptKeys[] = {"id",   "kakunin", "target", "install", "success",  "post", "atomic",
                                   "copy", "remove",  "dll",    "exe",     "shortcut", "log",  "create"};

enum SettingKind { SETTING_PLAIN, SETTING_TEXT, SETTING_TARGETS, SETTING_FOLDER, SETTING_PROGRAM, SETTING_SWITCH };

struct SettingKey {
    const char *key;
    SettingKind kind;
    char *UpdateScript::*field;  // null for the targets
};

const SettingKey kSettingKeys[] = {{"id", SETTING_PLAIN, &UpdateScript::id},
                                   {"kakunin", SETTING_TEXT, &UpdateScript::kakunin},
                                   {"target", SETTING_TARGETS, nullptr},
                                   {"install", SETTING_FOLDER, &UpdateScript::install},
                                   {"success", SETTING_TEXT, &UpdateScript::success},
                                   {"post", SETTING_PROGRAM, &UpdateScript::post},
                                   {"atomic", SETTING_SWITCH, nullptr}};

// Replaces *field with a copy of value; a repeated key wins. 0 = out of memory.
int SetField(char **field, const char *value)
{
    char *copy = StrDup(value);
    if (!copy)
        return 0;
    free(*field);
    *field = copy;
    return 1;
}

int SetTextField(char **field, const char *value)
{
    if (!SetField(field, value))
        return 0;
    HashToNewline(*field);
    return 1;
}

ScriptLineOutcome AddTargets(char *value, PtrList *targets, ScriptLineReport *report)
{
    char *pieces[SCRIPT_MAX_PIECES];
    int count = SplitInPlace(value, pieces, SCRIPT_MAX_PIECES, ';');
    report->valuePieces = count;
    // Dropping the patterns beyond the table would silently refuse versions
    // the update was made for; such a script is refused as a whole instead.
    if (count > SCRIPT_MAX_PIECES)
        return LINE_TOO_MANY_TARGETS;
    for (int i = 0; i < count; i++) {
        char *copy = StrDup(pieces[i]);
        if (!copy || !PtrListAppend(targets, copy)) {
            free(copy);
            return LINE_NO_MEMORY;
        }
    }
    return LINE_SETTING_STORED;
}

// "install" (a folder: gets a trailing backslash) and "post". A value that
// does not expand, or a folder with no room left for its backslash, leaves
// the line ignored; a failure only when out of memory.
ScriptLineOutcome SetMacroField(char **field, const char *value, int isFolder)
{
    char work[FOLDER_MACRO_BUFFER];
    if (!StrCopy(work, sizeof(work), value) || !FolderMacro(IsNotAdmin(), work))
        return LINE_MACRO_IGNORED;
    if (isFolder && !AddBackslash(work, sizeof(work)))
        return LINE_MACRO_IGNORED;
    return SetField(field, work) ? LINE_SETTING_STORED : LINE_NO_MEMORY;
}

// "0" or "1" exactly: an updater that took any other text for one of them
// would guess what the author meant. A repeated key wins, as for the others.
ScriptLineOutcome SetSwitch(int *field, const char *value)
{
    if (strcmp(value, "0") != 0 && strcmp(value, "1") != 0)
        return LINE_BAD_SWITCH;
    *field = value[0] == '1';
    return LINE_SETTING_STORED;
}

ScriptLineOutcome SetSetting(const SettingKey &setting, char *value, UpdateScript *script,
                             ScriptLineReport *report)
{
    char **field = setting.field ? &(script->*setting.field) : nullptr;
    switch (setting.kind) {
    case SETTING_PLAIN:
        return SetField(field, value) ? LINE_SETTING_STORED : LINE_NO_MEMORY;
    case SETTING_TEXT:
        return SetTextField(field, value) ? LINE_SETTING_STORED : LINE_NO_MEMORY;
    case SETTING_TARGETS:
        return AddTargets(value, script->targets, report);
    case SETTING_FOLDER:
        return SetMacroField(field, value, 1);
    case SETTING_PROGRAM:
        return SetMacroField(field, value, 0);
    case SETTING_SWITCH:
        return SetSwitch(&script->atomic, value);
    }
    return LINE_NO_MEMORY;
}

ScriptLineOutcome ParseLine(char *line, UpdateScript *script, ScriptLineReport *report)
{
    line[strcspn(line, "\r\n")] = '\0';
    if (line[0] == '\0')
        return LINE_EMPTY;
    if (line[0] == ';')
        return LINE_COMMENT;
    char *pieces[SCRIPT_MAX_PIECES];
    report->equalsPieces = SplitInPlace(line, pieces, SCRIPT_MAX_PIECES, '=');
    if (report->equalsPieces < 2)
        return LINE_NO_EQUALS;
    if (report->equalsPieces > 2)
        return LINE_SEVERAL_EQUALS;
    const char *key = pieces[0];
    char *value = pieces[1];
    for (const SettingKey &setting : kSettingKeys) {
        if (AsciiStricmp(key, setting.key) == 0) {
            report->key = setting.key;
            return SetSetting(setting, value, script, report);
        }
    }
    AddScriptCommandEx(key, value, script, report);
    return report->outcome;
}

} // namespace

int IsRejectedLine(ScriptLineOutcome outcome)
{
    return outcome >= LINE_UNKNOWN_KEY ? 1 : 0;
}

const char *KnownScriptKey(const char *key)
{
    for (const char *known : kScriptKeys) {
        if (AsciiStricmp(key, known) == 0)
            return known;
    }
    return nullptr;
}

int ScriptPathFromModulePath(char *path, size_t size)
{
    // "." is below 0x40, so it is never the trail byte of a double-byte
    // character and a byte search finds the real last one.
    char *dot = strrchr(path, '.');
    if (dot)
        *dot = '\0';
    return StrAppend(path, size, ".INF");
}

int ReadScriptFile(const char *path, UpdateScript *script)
{
    return ReadScriptFileEx(path, script, nullptr, nullptr);
}

int ReadScriptFileEx(const char *path, UpdateScript *script, ScriptLineSink sink, void *context)
{
    FILE *file = fopen(path, "rt");
    if (!file)
        return 0;
    int read = ReadScriptStreamEx(file, script, sink, context);
    fclose(file);
    return read;
}

int ReadScriptStream(FILE *file, UpdateScript *script)
{
    return ReadScriptStreamEx(file, script, nullptr, nullptr);
}

int ReadScriptStreamEx(FILE *file, UpdateScript *script, ScriptLineSink sink, void *context)
{
    char line[SCRIPT_LINE_BUFFER];
    char raw[SCRIPT_LINE_BUFFER];
    int accepted = 1;
    for (;;) {
        // A byte that fgets never leaves behind its terminator: the last zero
        // byte in the buffer afterwards ends what was read, also when the
        // line itself holds zero bytes.
        memset(line, 0x7F, sizeof(line));
        // A read error ends the script like its end does.
        if (!fgets(line, sizeof(line), file))
            break;
        size_t length = sizeof(line) - 1;
        while (length > 0 && line[length] != '\0')
            length--;
        memcpy(raw, line, length + 1);
        ScriptLineReport report;
        if (!ParseScriptLineEx(line, script, &report))
            accepted = 0;
        if (sink ? !sink(raw, length, &report, context) : !accepted)
            break;
    }
    return accepted;
}

int ParseScriptLine(char *line, UpdateScript *script)
{
    return ParseScriptLineEx(line, script, nullptr);
}

int ParseScriptLineEx(char *line, UpdateScript *script, ScriptLineReport *report)
{
    ScriptLineReport unused;
    if (!report)
        report = &unused;
    memset(report, 0, sizeof(*report));
    report->outcome = ParseLine(line, script, report);
    return IsRejectedLine(report->outcome) ? 0 : 1;
}
