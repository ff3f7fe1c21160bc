// The script reader and parser on whole script files. The lines are read by
// the updater's own fgets loop over a memory stream; what comes out must obey
// the record's invariants, and the reporting reader must agree line for line
// with what it stored.
#include "base/strutil.h"
#include "script/parser.h"

#include <string>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

void Require(int condition)
{
    if (!condition)
        abort();
}

int HasAny(const char *text, const char *bytes)
{
    return text && strpbrk(text, bytes) != nullptr;
}

// A value as the parser stores it: cut at the line end, never holding "=",
// and no longer than a line.
void CheckValue(const char *text)
{
    Require(text != nullptr);
    Require(strlen(text) < SCRIPT_LINE_BUFFER);
    Require(!HasAny(text, "\r\n="));
}

void CheckCommand(const FileEntry *entry)
{
    Require(entry != nullptr);
    Require(entry->act >= ACT_COPY && entry->act <= ACT_CREATE);
    CheckValue(entry->filename);
    switch (entry->act) {
    case ACT_DLL: {
        const AddOnExtra *pair = (const AddOnExtra *)entry->extra;
        Require(pair != nullptr);
        CheckValue(pair->dll);
        CheckValue(pair->func);
        Require(!HasAny(entry->filename, ",") && !HasAny(pair->dll, ",") && !HasAny(pair->func, ","));
        break;
    }
    case ACT_EXE:
        Require(!HasAny(entry->filename, ","));
        if (entry->extra) {
            CheckValue((const char *)entry->extra);
            Require(!HasAny((const char *)entry->extra, ","));
        }
        break;
    case ACT_SHORTCUT:
        Require(entry->extra != nullptr);
        Require(strnlen((const char *)entry->extra, SCRIPT_LINE_BUFFER) < SCRIPT_LINE_BUFFER);
        Require(!HasAny(entry->filename, ","));
        break;
    default:
        Require(entry->extra == nullptr);
        break;
    }
}

void CheckScript(const UpdateScript *script)
{
    for (PtrNode *node = PtrListFirst(script->commands); node;)
        CheckCommand((const FileEntry *)PtrListNextData(&node));
    for (PtrNode *node = PtrListFirst(script->targets); node;) {
        const char *pattern = (const char *)PtrListNextData(&node);
        CheckValue(pattern);
        Require(!HasAny(pattern, ";"));
    }
    if (script->id)
        CheckValue(script->id);
    Require(!HasAny(script->kakunin, "#\r") && !HasAny(script->success, "#\r"));
    if (script->install) {
        Require(strlen(script->install) < MAX_PATH_BYTES);
        const char *last = MbsLastChar(script->install);
        Require(last && *last == '\\');
    }
    if (script->post)
        Require(strlen(script->post) < MAX_PATH_BYTES);
}

// A stored command read back against the line it came from: its texts put
// together again give the line's value.
void CheckRoundTrip(const char *raw, const FileEntry *entry)
{
    std::string line(raw, strcspn(raw, "\r\n"));
    size_t equals = line.find('=');
    Require(equals != std::string::npos);
    std::string value = line.substr(equals + 1);
    std::string name = entry->filename;
    // The key names the kind, letter case aside.
    static const char *const kinds[] = {"copy", "remove", "dll", "exe", "shortcut", "log", "create"};
    std::string key = line.substr(0, equals);
    for (char &c : key)
        c = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    Require(key == kinds[entry->act - 1]);
    switch (entry->act) {
    case ACT_DLL: {
        const AddOnExtra *pair = (const AddOnExtra *)entry->extra;
        Require(value == name + "," + pair->dll + "," + pair->func);
        break;
    }
    case ACT_EXE: {
        std::string given = entry->extra ? name + "," + (const char *)entry->extra : name;
        Require(value.compare(0, given.size(), given) == 0);
        Require(value.size() == given.size() || (entry->extra && value[given.size()] == ','));
        break;
    }
    case ACT_SHORTCUT:
        Require(value.find(',') == value.rfind(','));
        Require(value.size() > name.size() && value.compare(value.size() - name.size() - 1, std::string::npos,
                                                            "," + name) == 0);
        break;
    default:
        Require(value == name);
        break;
    }
}

struct Tally {
    const UpdateScript *script;
    int commands;
    int targets;
    int rejected;
};

// Every line's report against what the script gained from that line.
int CheckLine(const char *raw, size_t rawLength, const ScriptLineReport *report, void *context)
{
    Tally *tally = (Tally *)context;
    Require(rawLength < SCRIPT_LINE_BUFFER);
    int commands = PtrListCount(tally->script->commands);
    int targets = PtrListCount(tally->script->targets);
    int stored = report->outcome == LINE_COMMAND_STORED;
    Require(commands == tally->commands + stored);
    if (stored) {
        const FileEntry *entry = (const FileEntry *)PtrListLast(tally->script->commands)->data;
        Require(report->act == entry->act);
        CheckRoundTrip(raw, entry);
    }
    int targetLine = report->outcome == LINE_SETTING_STORED && report->key && strcmp(report->key, "target") == 0;
    Require(targets == tally->targets + (targetLine ? report->valuePieces : 0));
    Require(!targetLine || (report->valuePieces >= 1 && report->valuePieces <= SCRIPT_MAX_PIECES));
    tally->commands = commands;
    tally->targets = targets;
    if (IsRejectedLine(report->outcome)) {
        tally->rejected = 1;
        return 0;  // where the updater stops
    }
    return 1;
}

FILE *OpenBytes(char *bytes, size_t size)
{
    // A memory stream cannot be empty: an empty script is one empty line.
    return size ? fmemopen(bytes, size, "r") : fmemopen((char *)"\n", 1, "r");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char *bytes = (char *)malloc(size ? size : 1);
    memcpy(bytes, data, size);

    UpdateScript plain, told;
    Require(InitUpdateScript(&plain) && InitUpdateScript(&told));
    FILE *file = OpenBytes(bytes, size);
    Require(file != nullptr);
    int read = ReadScriptStream(file, &plain);
    fclose(file);
    CheckScript(&plain);

    Tally tally = {&told, 0, 0, 0};
    file = OpenBytes(bytes, size);
    Require(file != nullptr);
    int readTold = ReadScriptStreamEx(file, &told, CheckLine, &tally);
    fclose(file);
    CheckScript(&told);

    // Both readers stop at the same line with the same record.
    Require(read == readTold && read == !tally.rejected);
    Require(PtrListCount(plain.commands) == PtrListCount(told.commands));
    Require(PtrListCount(plain.targets) == PtrListCount(told.targets));
    FreeUpdateScript(&plain);
    FreeUpdateScript(&told);
    free(bytes);
    return 0;
}
