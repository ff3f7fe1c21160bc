// Findings about one line as read: its bytes, where a long line is cut, and
// what the parser made of it.
#include "checker.h"
#include "macrocheck.h"

#include "base/strutil.h"

#include <string.h>

namespace {

enum { WHAT_BUFFER = 700 };

// The line as the parser sees it: up to the first CR, LF or zero byte.
size_t LineTextLength(const char *raw, size_t rawLength)
{
    size_t length = 0;
    while (length < rawLength && raw[length] != '\r' && raw[length] != '\n' && raw[length] != '\0')
        length++;
    return length;
}

int HoldsText(const char *bytes, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        if (bytes[i] != '\r' && bytes[i] != '\n')
            return 1;
    }
    return 0;
}

// A few words on what became of a line, for the piece of a long line.
void OutcomeWords(const ScriptLineReport *report, char *words, size_t size)
{
    switch (report->outcome) {
    case LINE_EMPTY:
        snprintf(words, size, "it is empty");
        return;
    case LINE_COMMENT:
        snprintf(words, size, "it is a comment");
        return;
    case LINE_NO_EQUALS:
        snprintf(words, size, "it is ignored (no \"=\")");
        return;
    case LINE_SEVERAL_EQUALS:
        snprintf(words, size, "it is ignored (more than one \"=\")");
        return;
    case LINE_SETTING_STORED:
        snprintf(words, size, "it sets \"%s\"", report->key);
        return;
    case LINE_MACRO_IGNORED:
        snprintf(words, size, "it is ignored (its \"%s\" value does not expand)", report->key);
        return;
    case LINE_COMMAND_STORED:
        snprintf(words, size, "it adds a \"%s\" command", report->key);
        return;
    default:
        snprintf(words, size, "it rejects the script");
        return;
    }
}

void CheckLongLine(ScriptChecker *checker, const char *raw, size_t rawLength, const ScriptLineReport *report,
                   const char *text)
{
    if (checker->lineOffset == 0 || !HoldsText(raw, rawLength))
        return;
    size_t end = checker->lineOffset + rawLength - (raw[rawLength - 1] == '\n' ? 1 : 0);
    char words[100];
    OutcomeWords(report, words, sizeof(words));
    char what[WHAT_BUFFER];
    snprintf(what, sizeof(what),
             "line longer than %d bytes: cut after byte %u%s; bytes %u-%u are read as a line of their own "
             "and %s",
             SCRIPT_LINE_BUFFER - 1, (unsigned)checker->lineOffset,
             checker->cp932.pendingLead ? " (inside a double-byte character)" : "",
             (unsigned)checker->lineOffset + 1, (unsigned)end, words);
    LineFinding(&checker->log, checker->line, SEVERITY_WARNING, what, text);
}

// A byte order mark at the very start: the script was saved in a Unicode form.
void CheckEncodingMark(ScriptChecker *checker, const char *raw, size_t rawLength, const char *text)
{
    const unsigned char *bytes = (const unsigned char *)raw;
    if (checker->line != 1 || checker->lineOffset != 0 || rawLength < 2)
        return;
    // The mark alone would pass for UTF-8 text: one finding says it all.
    if (rawLength >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        checker->cp932Reported = 1;
        LineFinding(&checker->log, checker->line, SEVERITY_WARNING,
                    "the script starts with a UTF-8 byte order mark, which becomes part of the first key: save "
                    "it as Shift-JIS (CP932)",
                    text);
    } else if ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)) {
        checker->cp932Reported = 1;
        LineFinding(&checker->log, checker->line, SEVERITY_WARNING,
                    "the script is saved as UTF-16: save it as Shift-JIS (CP932)", text);
    }
}

void CheckBytes(ScriptChecker *checker, const char *raw, size_t rawLength, const char *text)
{
    char what[WHAT_BUFFER];
    const void *zero = memchr(raw, '\0', rawLength);
    if (zero && !checker->zeroReported) {
        checker->zeroReported = 1;
        snprintf(what, sizeof(what),
                 "zero byte at column %u: the line ends there for the updater (saved as UTF-16?)",
                 (unsigned)(checker->lineOffset + ((const char *)zero - raw) + 1));
        LineFinding(&checker->log, checker->line, SEVERITY_WARNING, what, text);
    }
    // Said once for the whole script already.
    if (checker->utf8Script)
        checker->cp932Reported = 1;
    if (!checker->cp932Reported && LooksLikeUtf8((const unsigned char *)raw, rawLength)) {
        checker->cp932Reported = 1;
        LineFinding(&checker->log, checker->line, SEVERITY_WARNING,
                    "the line looks like UTF-8, not CP932: its Japanese text would be garbled", text);
    }
    size_t at = 0;
    unsigned char lead = 0;
    Cp932Fault fault = ScanCp932(&checker->cp932, (const unsigned char *)raw, rawLength, &at, &lead);
    if (fault == CP932_VALID || checker->cp932Reported)
        return;
    checker->cp932Reported = 1;
    unsigned char byte = (unsigned char)raw[at];
    if (fault == CP932_BAD_BYTE)
        snprintf(what, sizeof(what), "byte 0x%02X at column %u is not valid CP932", byte,
                 (unsigned)(checker->lineOffset + at + 1));
    else
        snprintf(what, sizeof(what), "bytes 0x%02X 0x%02X at column %u are no CP932 character", lead, byte,
                 (unsigned)(checker->lineOffset + at));
    LineFinding(&checker->log, checker->line, SEVERITY_WARNING, what, text);
}

// A carriage return that does not end the line cuts it: the text after it is lost.
void CheckCarriageReturn(ScriptChecker *checker, const char *raw, size_t rawLength, size_t textLength,
                         const char *text)
{
    if (textLength >= rawLength || raw[textLength] != '\r' || !HoldsText(raw + textLength, rawLength - textLength))
        return;
    char what[WHAT_BUFFER];
    snprintf(what, sizeof(what), "carriage return at column %u: the rest of the line is ignored",
             (unsigned)(checker->lineOffset + textLength + 1));
    LineFinding(&checker->log, checker->line, SEVERITY_WARNING, what, text);
}

void Rejection(ScriptChecker *checker, const char *what, const char *text)
{
    char full[WHAT_BUFFER];
    if (checker->firstRejectedLine == 0) {
        checker->firstRejectedLine = checker->line;
        snprintf(full, sizeof(full), "%s; the updater refuses the script here (code 2)", what);
    } else {
        snprintf(full, sizeof(full), "%s (the updater stops before this line)", what);
    }
    LineFinding(&checker->log, checker->line, SEVERITY_ERROR, full, text);
}

void CheckRejected(ScriptChecker *checker, const ScriptLineReport *report, const char *key, const char *value,
                   const char *text)
{
    char what[WHAT_BUFFER];
    switch (report->outcome) {
    case LINE_KEY_WITH_BLANK:
        snprintf(what, sizeof(what), "key \"%s\" has a stray blank: write \"%s=\"", key, report->key);
        break;
    case LINE_DLL_PIECES:
        snprintf(what, sizeof(what), "\"dll\" value has %d piece%s, needs 3: file,plugin.dll,Function",
                 report->valuePieces, report->valuePieces == 1 ? "" : "s");
        break;
    case LINE_SHORTCUT_PIECES:
        snprintf(what, sizeof(what), "\"shortcut\" value has %d piece%s, needs 2: path,target",
                 report->valuePieces, report->valuePieces == 1 ? "" : "s");
        break;
    case LINE_SHORTCUT_MACRO: {
        char path[SCRIPT_LINE_BUFFER];
        StrCopy(path, sizeof(path), value);
        *strchr(path, ',') = '\0';
        char why[WHAT_BUFFER / 2];
        ExplainMacroFailure(path, 0, why, sizeof(why));
        snprintf(what, sizeof(what), "shortcut path does not expand: %s", why);
        break;
    }
    case LINE_TOO_MANY_TARGETS:
        snprintf(what, sizeof(what), "%d patterns on one \"target\" line (at most %d): split them over several lines",
                 report->valuePieces, SCRIPT_MAX_PIECES);
        break;
    case LINE_BAD_SWITCH:
        snprintf(what, sizeof(what), "\"%s\" value \"%s\" is neither 0 nor 1", report->key, value);
        break;
    case LINE_NO_MEMORY:
        snprintf(what, sizeof(what), "out of memory");
        break;
    default:
        if (key[strspn(key, " \t")] == ';')
            snprintf(what, sizeof(what), "unknown key \"%s\": a comment needs \";\" in the first column", key);
        else
            snprintf(what, sizeof(what), "unknown key \"%s\"", key);
        break;
    }
    Rejection(checker, what, text);
}

void CheckOutcome(ScriptChecker *checker, const ScriptLineReport *report, const char *text)
{
    char key[SCRIPT_LINE_BUFFER];
    StrCopy(key, sizeof(key), text);
    char *equals = strchr(key, '=');
    const char *value = "";
    if (equals) {
        *equals = '\0';
        value = text + (equals - key) + 1;
    }
    char what[WHAT_BUFFER];
    switch (report->outcome) {
    case LINE_EMPTY:
    case LINE_COMMENT:
        return;
    case LINE_NO_EQUALS:
        LineFinding(&checker->log, checker->line, SEVERITY_WARNING, "no \"=\": the line is ignored", text);
        return;
    case LINE_SEVERAL_EQUALS:
        snprintf(what, sizeof(what), "%d \"=\" on the line: it is ignored (a value cannot hold \"=\")%s",
                 report->equalsPieces - 1,
                 report->equalsPieces > SCRIPT_MAX_PIECES ? "; more pieces than the 16 a split holds" : "");
        LineFinding(&checker->log, checker->line, SEVERITY_WARNING, what, text);
        return;
    case LINE_MACRO_IGNORED: {
        char why[WHAT_BUFFER / 2];
        ExplainMacroFailure(value, AsciiStricmp(report->key, "install") == 0, why, sizeof(why));
        snprintf(what, sizeof(what), "\"%s\" value is ignored: %s", report->key, why);
        LineFinding(&checker->log, checker->line, SEVERITY_WARNING, what, text);
        return;
    }
    case LINE_SETTING_STORED:
        CheckStoredSetting(checker, report, value, text);
        return;
    case LINE_COMMAND_STORED:
        CheckStoredCommand(checker, report, value, text);
        return;
    default:
        CheckRejected(checker, report, key, value, text);
        return;
    }
}

void EndPhysicalLine(ScriptChecker *checker)
{
    checker->line++;
    checker->lineOffset = 0;
    checker->cp932.pendingLead = 0;
    checker->cp932Reported = 0;
    checker->zeroReported = 0;
}

} // namespace

int CheckScriptLine(const char *raw, size_t rawLength, const ScriptLineReport *report, void *context)
{
    ScriptChecker *checker = (ScriptChecker *)context;
    char text[SCRIPT_LINE_BUFFER];
    size_t textLength = LineTextLength(raw, rawLength);
    memcpy(text, raw, textLength);
    text[textLength] = '\0';
    // The cut is told before the bytes of this piece are scanned, while the
    // scan still knows whether the last piece ended inside a character.
    CheckLongLine(checker, raw, rawLength, report, text);
    CheckEncodingMark(checker, raw, rawLength, text);
    CheckBytes(checker, raw, rawLength, text);
    CheckCarriageReturn(checker, raw, rawLength, textLength, text);
    CheckOutcome(checker, report, text);
    if (rawLength > 0 && raw[rawLength - 1] == '\n')
        EndPhysicalLine(checker);
    else
        checker->lineOffset += rawLength;
    // Read on past a rejected line: the author wants every fault at once.
    return 1;
}
