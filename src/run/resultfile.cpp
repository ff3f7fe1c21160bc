#include "run/resultfile.h"

#include "base/mbcs.h"
#include "base/messages.h"
#include "base/runrecord.h"
#include "base/safefile.h"
#include "base/tracelog.h"
#include "exec/filereplace.h"
#include "exec/history.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// By exit code, from -1 on.
const char *const MEANINGS[] = {"declined",      "success",       "no-memory",    "bad-script",
                                "no-destination", "update-failed", "locked-module", "gate-refused",
                                "no-space",      "bad-package"};
static_assert(sizeof(MEANINGS) / sizeof(MEANINGS[0]) == RESULT_COUNT + 1, "a meaning for every exit code");
const char *const COMMANDS[] = {"", "copy", "remove", "dll", "exe", "shortcut", "log", "create"};
const char *const OUTCOMES[] = {"done", "failed", "ignored", "unknown"};
// By box answer (IDOK 1 to IDNO 7); 0 when no box could be shown.
const char *const ANSWERS[] = {"none", "ok", "cancel", "abort", "retry", "ignore", "yes", "no"};

void Put(JsonText *out, const char *bytes, size_t length)
{
    if (out->failed)
        return;
    if (out->used + length + 1 > out->size) {
        size_t size = (out->size + length + 1) * 2;
        char *grown = (char *)realloc(out->text, size);
        if (!grown) {
            out->failed = 1;
            return;
        }
        out->text = grown;
        out->size = size;
    }
    memcpy(out->text + out->used, bytes, length);
    out->used += length;
    out->text[out->used] = '\0';
}

void PutCode(JsonText *out, unsigned code)
{
    char bytes[8];
    int n;
    static const char ESCAPED[] = "\"\\\n\r\t";
    const char *escaped = code && code < 0x80 ? strchr(ESCAPED, (int)code) : nullptr;
    if (escaped) {
        n = snprintf(bytes, sizeof(bytes), "\\%c", "\"\\nrt"[escaped - ESCAPED]);
    } else if (code < 0x20) {
        n = snprintf(bytes, sizeof(bytes), "\\u%04x", code);
    } else if (code < 0x80) {
        bytes[0] = (char)code;
        n = 1;
    } else if (code < 0x800) {
        bytes[0] = (char)(0xC0 | (code >> 6));
        bytes[1] = (char)(0x80 | (code & 0x3F));
        n = 2;
    } else {
        bytes[0] = (char)(0xE0 | (code >> 12));
        bytes[1] = (char)(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = (char)(0x80 | (code & 0x3F));
        n = 3;
    }
    Put(out, bytes, (size_t)n);
}

// format with %d (an int), %D (a long long), %r (a text as it is) and %s (an
// ANSI text as a JSON string, or null).
void Emit(JsonText *out, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    for (const char *p = format; *p; p++) {
        if (*p != '%') {
            Put(out, p, 1);
            continue;
        }
        char kind = *++p;
        if (kind == 'd' || kind == 'D') {
            char digits[24];
            if (kind == 'd')
                snprintf(digits, sizeof(digits), "%d", va_arg(args, int));
            else
                snprintf(digits, sizeof(digits), "%I64d", va_arg(args, long long));
            JsonRaw(out, digits);
            continue;
        }
        const char *text = va_arg(args, const char *);
        if (kind == 'r')
            JsonRaw(out, text);
        else if (text)
            JsonString(out, text);
        else
            JsonRaw(out, "null");
    }
    va_end(args);
}

// The system's text for an error, without its line end.
void ErrorText(JsonText *out, unsigned long error)
{
    SetLastError(error);
    char *text = GetLastErrorText();
    size_t n = text ? strlen(text) : 0;
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' '))
        text[--n] = '\0';
    Emit(out, ", \"error\": %d, \"errorText\": %s", (int)error, text);
    LocalFree(text);
}

// The script's commands in one folder the executor worked in: those it did
// not come to are skipped.
void Commands(JsonText *out, const RecordedFolder *folder, const PtrList *commands)
{
    JsonRaw(out, ",\n      \"commands\": [");
    PtrNode *done = PtrListFirst(folder->commands);
    for (PtrNode *cursor = PtrListFirst(commands); cursor;) {
        const FileEntry *entry = (const FileEntry *)PtrListNextData(&cursor);
        const RecordedCommand *command = done ? (const RecordedCommand *)PtrListNextData(&done) : nullptr;
        Emit(out, "\n        {\"command\": \"%r\", \"file\": %s, \"outcome\": \"%r\"",
             entry->act >= 1 && entry->act <= 7 ? COMMANDS[entry->act] : "unknown", entry->filename,
             command ? OUTCOMES[command->outcome] : "skipped");
        if (command && command->error)
            ErrorText(out, command->error);
        if (command && command->path)
            Emit(out, ", \"path\": %s", command->path);
        JsonRaw(out, cursor ? "}," : "}\n      ");
    }
    JsonRaw(out, "]");
}

void Folders(JsonText *out, const UpdateScript &script)
{
    for (PtrNode *cursor = PtrListFirst(GetRunRecord()->folders); cursor;) {
        const RecordedFolder *folder = (const RecordedFolder *)PtrListNextData(&cursor);
        Emit(out,
             "\n    {\n      \"folder\": %s,\n      \"dataVersion\": %s,\n      \"accepted\": %r,\n"
             "      \"alreadyUpdated\": %r",
             folder->folder, folder->versionRead ? folder->version : nullptr, folder->accepted ? "true" : "false",
             // A copy the version check refused whose INSTALLED lists the id: the
             // update ran there before and its data version is the one it brought.
             !folder->accepted && InstalledListsId(folder->folder, script.id) ? "true" : "false");
        if (folder->commands)
            Commands(out, folder, script.commands);
        // Only all-or-nothing updates are ever restored: other records keep
        // their fields.
        if (folder->restored)
            JsonRaw(out, ",\n      \"restored\": true");
        JsonRaw(out, cursor ? "\n    }," : "\n    }\n  ");
    }
}

void Boxes(JsonText *out)
{
    for (PtrNode *cursor = PtrListFirst(GetRunRecord()->boxes); cursor;) {
        const RecordedBox *box = (const RecordedBox *)PtrListNextData(&cursor);
        Emit(out, "\n    {\"caption\": %s, \"text\": %s, \"answer\": \"%r\"}%r", box->caption, box->text,
             box->answer >= 0 && box->answer <= 7 ? ANSWERS[box->answer] : "none", cursor ? "," : "\n  ");
    }
}

// The first command that failed: its folder, its place in the script (from
// 1) and its file.
void FailedCommand(JsonText *out)
{
    for (PtrNode *cursor = PtrListFirst(GetRunRecord()->folders); cursor;) {
        const RecordedFolder *folder = (const RecordedFolder *)PtrListNextData(&cursor);
        int index = 0;
        for (PtrNode *done = PtrListFirst(folder->commands); done;) {
            const RecordedCommand *command = (const RecordedCommand *)PtrListNextData(&done);
            index++;
            if (command->outcome == OUTCOME_FAILED) {
                Emit(out, "{\"folder\": %s, \"command\": %d, \"path\": %s}", folder->folder, index, command->path);
                return;
            }
        }
    }
    JsonRaw(out, "null");
}

// What explains the exit code, as far as the run met it; null for the codes
// that need nothing more, and where the step could not tell.
void Cause(JsonText *out, const RunEnd &end)
{
    const RecordedCause &cause = GetRunRecord()->cause;
    JsonRaw(out, ",\n  \"cause\": ");
    // A script that could not be opened at all has no line to name.
    if (end.nResult == RESULT_BAD_SCRIPT && cause.scriptLine && cause.lineText)
        Emit(out, "{\"line\": %d, \"text\": %s}", (int)cause.scriptLine, cause.lineText);
    else if (end.nResult == RESULT_BAD_SCRIPT)
        JsonRaw(out, "{\"line\": null, \"text\": null}");
    else if (end.nResult == RESULT_UPDATE_FAILED)
        FailedCommand(out);
    else if (end.nResult == RESULT_LOCKED_FILE && cause.held && cause.holder)
        Emit(out, "{\"file\": %s, \"processId\": %d, \"program\": %s}", cause.held, (int)cause.holderId,
             cause.holder);
    else if (end.nResult == RESULT_LOCKED_FILE && cause.held)
        Emit(out, "{\"file\": %s, \"processId\": null, \"program\": null}", cause.held);
    else if (end.nResult == RESULT_NO_SPACE && cause.shortOf)
        Emit(out, "{\"folder\": %s, \"neededBytes\": %D, \"freeBytes\": %D}", cause.shortOf, cause.needed,
             cause.freeBytes);
    else if (end.nResult == RESULT_BAD_PACKAGE && end.badFile && end.badFile[0])
        Emit(out, "{\"file\": %s}", end.badFile);
    else
        JsonRaw(out, "null");
}

void Record(JsonText *out, const UpdateScript &script, const RunEnd &end)
{
    int nResult = end.nResult;
    Emit(out, "{\n  \"exitCode\": %d,\n  \"meaning\": \"%r\",\n  \"updater\": \"%r\",\n  \"id\": %s,\n"
              "  \"unattended\": %r,\n  \"dryRun\": %r",
         nResult, nResult >= -1 && nResult < RESULT_COUNT ? MEANINGS[nResult + 1] : "", LUMIUPD_VERSION_TEXT,
         script.id, end.unattended ? "true" : "false", end.dryRun ? "true" : "false");
    Cause(out, end);
    JsonRaw(out, ",\n  \"destinations\": [");
    Folders(out, script);
    JsonRaw(out, "],\n  \"boxes\": [");
    Boxes(out);
    Emit(out, "],\n  \"milliseconds\": %d\n}\n", (int)end.elapsedMs);
}

int FullPath(const char *path, char *full)
{
    char *name = nullptr;
    DWORD n = GetFullPathNameA(path, MAX_PATH_BYTES, full, &name);
    return n > 0 && n < MAX_PATH_BYTES;
}

} // namespace

void JsonRaw(JsonText *out, const char *raw)
{
    Put(out, raw, strlen(raw));
}

void JsonString(JsonText *out, const char *text)
{
    JsonRaw(out, "\"");
    for (const unsigned char *p = (const unsigned char *)text; *p;) {
        int width = (MbIsLeadByte(*p) && p[1]) ? 2 : 1;
        WCHAR wide[2];
        unsigned code = *p;
        // A byte that starts no character stands for itself alone: what
        // follows it is read afresh.
        if (code >= 0x80 && (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, (const char *)p, width, wide, 2) != 1 ||
                             (wide[0] >= 0xD800 && wide[0] <= 0xDFFF))) {
            code = 0xFFFD;
            width = 1;
        } else if (code >= 0x80) {
            code = wide[0];
        }
        PutCode(out, code);
        p += width;
    }
    JsonRaw(out, "\"");
}

void StartResultFile(const char *path)
{
    char full[MAX_PATH_BYTES];
    if (FullPath(path, full))
        DeletePlainFile(full);
}

void WriteResultFile(const char *path, const UpdateScript &script, const RunEnd &end)
{
    JsonText out;
    memset(&out, 0, sizeof(out));
    Record(&out, script, end);
    if (out.failed || !WriteWholeFile(path, out.text, (DWORD)out.used)) {
        if (out.failed)
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        char *text = GetLastErrorText();
        TracePrintf("result not written - %s", text ? text : "\r\n");
        LocalFree(text);
    }
    free(out.text);
}
