#include "script/parser.h"

#include "base/strutil.h"
#include "script/foldermacro.h"

#include <stdlib.h>
#include <string.h>

namespace {

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

int AddTargets(char *value, PtrList *targets)
{
    char *pieces[SCRIPT_MAX_PIECES];
    int count = SplitInPlace(value, pieces, SCRIPT_MAX_PIECES, ';');
    // Dropping the patterns beyond the table would silently refuse versions
    // the update was made for; such a script is refused as a whole instead.
    if (count > SCRIPT_MAX_PIECES)
        return 0;
    for (int i = 0; i < count; i++) {
        char *copy = StrDup(pieces[i]);
        if (!copy || !PtrListAppend(targets, copy)) {
            free(copy);
            return 0;
        }
    }
    return 1;
}

// "install" (a folder: gets a trailing backslash) and "post". A value that
// does not expand, or a folder with no room left for its backslash, leaves
// the line ignored (1); 0 only when out of memory.
int SetMacroField(char **field, const char *value, int isFolder)
{
    char work[FOLDER_MACRO_BUFFER];
    if (!StrCopy(work, sizeof(work), value) || !FolderMacro(IsNotAdmin(), work))
        return 1;
    if (isFolder && !AddBackslash(work, sizeof(work)))
        return 1;
    return SetField(field, work);
}

} // namespace

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
    FILE *file = fopen(path, "rt");
    if (!file)
        return 0;
    int read = ReadScriptStream(file, script);
    fclose(file);
    return read;
}

int ReadScriptStream(FILE *file, UpdateScript *script)
{
    char line[SCRIPT_LINE_BUFFER];
    // A read error ends the script like its end does.
    while (fgets(line, sizeof(line), file)) {
        if (!ParseScriptLine(line, script))
            return 0;
    }
    return 1;
}

int ParseScriptLine(char *line, UpdateScript *script)
{
    line[strcspn(line, "\r\n")] = '\0';
    if (line[0] == '\0' || line[0] == ';')
        return 1;
    char *pieces[SCRIPT_MAX_PIECES];
    if (SplitInPlace(line, pieces, SCRIPT_MAX_PIECES, '=') != 2)
        return 1;
    const char *key = pieces[0];
    char *value = pieces[1];
    if (AsciiStricmp(key, "id") == 0)
        return SetField(&script->id, value);
    if (AsciiStricmp(key, "kakunin") == 0)
        return SetTextField(&script->kakunin, value);
    if (AsciiStricmp(key, "target") == 0)
        return AddTargets(value, script->targets);
    if (AsciiStricmp(key, "install") == 0)
        return SetMacroField(&script->install, value, 1);
    if (AsciiStricmp(key, "success") == 0)
        return SetTextField(&script->success, value);
    if (AsciiStricmp(key, "post") == 0)
        return SetMacroField(&script->post, value, 0);
    return AddScriptCommand(key, value, script);
}
