#include "base/strutil.h"
#include "script/foldermacro.h"
#include "script/parser.h"

#include <stdlib.h>

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

// act is set before extra so that FreeFileEntry releases a half-filled entry.
int FillDll(FileEntry *entry, char *value)
{
    char *pieces[SCRIPT_MAX_PIECES];
    if (SplitInPlace(value, pieces, SCRIPT_MAX_PIECES, ',') != 3)
        return 0;
    AddOnExtra *pair = (AddOnExtra *)calloc(1, sizeof(AddOnExtra));
    if (!pair)
        return 0;
    entry->act = ACT_DLL;
    entry->extra = pair;
    return CopyText(&entry->filename, pieces[0]) && CopyText(&pair->dll, pieces[1]) &&
           CopyText(&pair->func, pieces[2]);
}

// Parameters cannot hold ",": pieces after the second are dropped.
int FillExe(FileEntry *entry, char *value)
{
    char *pieces[SCRIPT_MAX_PIECES];
    int count = SplitInPlace(value, pieces, SCRIPT_MAX_PIECES, ',');
    entry->act = ACT_EXE;
    if (!CopyText(&entry->filename, pieces[0]))
        return 0;
    if (count < 2)
        return 1;
    char *parameters = nullptr;
    int copied = CopyText(&parameters, pieces[1]);
    entry->extra = parameters;
    return copied;
}

int FillShortcut(FileEntry *entry, char *value)
{
    char *pieces[SCRIPT_MAX_PIECES];
    if (SplitInPlace(value, pieces, SCRIPT_MAX_PIECES, ',') != 2)
        return 0;
    entry->act = ACT_SHORTCUT;
    char *path = (char *)malloc(FOLDER_MACRO_BUFFER);
    if (!path)
        return 0;
    entry->extra = path;
    if (!CopyText(&entry->filename, pieces[1]))
        return 0;
    return StrCopy(path, FOLDER_MACRO_BUFFER, pieces[0]) && FolderMacro(IsNotAdmin(), path);
}

int FillEntry(FileEntry *entry, const char *key, char *value)
{
    for (const WholeValueCommand &command : kWholeValueCommands) {
        if (AsciiStricmp(key, command.key) == 0) {
            entry->act = command.act;
            return CopyText(&entry->filename, value);
        }
    }
    if (AsciiStricmp(key, "dll") == 0)
        return FillDll(entry, value);
    if (AsciiStricmp(key, "exe") == 0)
        return FillExe(entry, value);
    if (AsciiStricmp(key, "shortcut") == 0)
        return FillShortcut(entry, value);
    return 0;
}

} // namespace

int AddScriptCommand(const char *key, char *value, UpdateScript *script)
{
    FileEntry *entry = (FileEntry *)calloc(1, sizeof(FileEntry));
    if (!entry)
        return 0;
    if (!FillEntry(entry, key, value) || !PtrListAppend(script->commands, entry)) {
        FreeFileEntry(entry);
        return 0;
    }
    return 1;
}
