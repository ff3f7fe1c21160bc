#include "run/resultfile.h"

#include "base/mbcs.h"
#include "base/messages.h"
#include "base/runrecord.h"
#include "base/safefile.h"
#include "base/tracelog.h"
#include "exec/filereplace.h"

#include <windows.h>
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
const char *const OUTCOMES[] = {"done", "failed", "ignored"};
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

void JsonNumber(JsonText *out, long value)
{
    char digits[16];
    snprintf(digits, sizeof(digits), "%ld", value);
    JsonRaw(out, digits);
}

// One "name": and its value's opening, at the record's depth.
void Key(JsonText *out, const char *indent, const char *name)
{
    JsonRaw(out, indent);
    JsonRaw(out, "\"");
    JsonRaw(out, name);
    JsonRaw(out, "\": ");
}

void StringField(JsonText *out, const char *indent, const char *name, const char *text, const char *end)
{
    Key(out, indent, name);
    if (text)
        JsonString(out, text);
    else
        JsonRaw(out, "null");
    JsonRaw(out, end);
}

// The system's text for an error, without its line end.
void ErrorText(JsonText *out, unsigned long error)
{
    SetLastError(error);
    char *text = GetLastErrorText();
    if (!text) {
        JsonRaw(out, "null");
        return;
    }
    size_t n = strlen(text);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' '))
        text[--n] = '\0';
    JsonString(out, text);
    LocalFree(text);
}

void Command(JsonText *out, const FileEntry *entry, const RecordedCommand *done, const char *end)
{
    JsonRaw(out, "        {\"command\": \"");
    JsonRaw(out, entry->act >= 1 && entry->act <= 7 ? COMMANDS[entry->act] : "unknown");
    JsonRaw(out, "\", \"file\": ");
    JsonString(out, entry->filename);
    JsonRaw(out, ", \"outcome\": \"");
    JsonRaw(out, done ? OUTCOMES[done->outcome] : "skipped");
    JsonRaw(out, "\"");
    if (done && done->error) {
        JsonRaw(out, ", \"error\": ");
        JsonNumber(out, (long)done->error);
        JsonRaw(out, ", \"errorText\": ");
        ErrorText(out, done->error);
    }
    JsonRaw(out, "}");
    JsonRaw(out, end);
}

// The script's commands in one folder the executor worked in: those it did
// not come to are skipped.
void Commands(JsonText *out, const RecordedFolder *folder, const PtrList *commands)
{
    JsonRaw(out, ",\n      \"commands\": [");
    PtrNode *done = PtrListFirst(folder->commands);
    int left = PtrListCount(commands);
    for (PtrNode *cursor = PtrListFirst(commands); cursor; left--) {
        const FileEntry *entry = (const FileEntry *)PtrListNextData(&cursor);
        const RecordedCommand *command = done ? (const RecordedCommand *)PtrListNextData(&done) : nullptr;
        JsonRaw(out, "\n");
        Command(out, entry, command, left > 1 ? "," : "\n      ");
    }
    JsonRaw(out, "]");
}

void Folders(JsonText *out, const PtrList *commands)
{
    JsonRaw(out, "  \"destinations\": [");
    const PtrList *folders = GetRunRecord()->folders;
    for (PtrNode *cursor = PtrListFirst(folders); cursor;) {
        const RecordedFolder *folder = (const RecordedFolder *)PtrListNextData(&cursor);
        JsonRaw(out, "\n    {\n");
        StringField(out, "      ", "folder", folder->folder, ",\n");
        StringField(out, "      ", "dataVersion", folder->versionRead ? folder->version : nullptr, ",\n");
        Key(out, "      ", "accepted");
        JsonRaw(out, folder->accepted ? "true" : "false");
        if (folder->commands)
            Commands(out, folder, commands);
        JsonRaw(out, cursor ? "\n    }," : "\n    }\n  ");
    }
    JsonRaw(out, "],\n");
}

void Boxes(JsonText *out)
{
    JsonRaw(out, "  \"boxes\": [");
    for (PtrNode *cursor = PtrListFirst(GetRunRecord()->boxes); cursor;) {
        const RecordedBox *box = (const RecordedBox *)PtrListNextData(&cursor);
        JsonRaw(out, "\n    {");
        StringField(out, "", "caption", box->caption, ", ");
        StringField(out, "", "text", box->text, ", ");
        StringField(out, "", "answer", box->answer >= 0 && box->answer <= 7 ? ANSWERS[box->answer] : "none",
                    cursor ? "}," : "}\n  ");
    }
    JsonRaw(out, "],\n");
}

void Record(JsonText *out, int nResult, const UpdateScript &script, int unattended, unsigned long elapsedMs)
{
    JsonRaw(out, "{\n");
    Key(out, "  ", "exitCode");
    JsonNumber(out, nResult);
    JsonRaw(out, ",\n");
    StringField(out, "  ", "meaning", nResult >= -1 && nResult < RESULT_COUNT ? MEANINGS[nResult + 1] : "", ",\n");
    StringField(out, "  ", "updater", LUMIUPD_VERSION_TEXT, ",\n");
    StringField(out, "  ", "id", script.id, ",\n");
    Key(out, "  ", "unattended");
    JsonRaw(out, unattended ? "true,\n" : "false,\n");
    Folders(out, script.commands);
    Boxes(out);
    Key(out, "  ", "milliseconds");
    JsonNumber(out, (long)elapsedMs);
    JsonRaw(out, "\n}\n");
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

void WriteResultFile(const char *path, int nResult, const UpdateScript &script, int unattended,
                     unsigned long elapsedMs)
{
    JsonText out;
    memset(&out, 0, sizeof(out));
    Record(&out, nResult, script, unattended, elapsedMs);
    char full[MAX_PATH_BYTES];
    NewFile file;
    int written = !out.failed && FullPath(path, full) && NewFileBeside(&file, full, 0);
    if (written && !(NewFileWrite(&file, out.text, (DWORD)out.used) && CommitNewFile(&file, full, nullptr, 0))) {
        DiscardNewFile(&file);
        written = 0;
    }
    if (!written) {
        if (out.failed)
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        char *text = GetLastErrorText();
        TracePrintf("result not written - %s", text ? text : "\r\n");
        LocalFree(text);
    }
    free(out.text);
}
