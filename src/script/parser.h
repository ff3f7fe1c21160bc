// The portable part of the update script reader: the script's location next
// to the executable, its lines, and the keys and commands they set. The
// folder macros are reached through script/foldermacro.h.
#pragma once

#include "script/script.h"

#include <stddef.h>
#include <stdio.h>

// A line is read in pieces of at most SCRIPT_LINE_BUFFER - 1 bytes; the rest
// of a longer physical line comes as the next line. Every split of a line or
// value has room for SCRIPT_MAX_PIECES pieces.
enum { SCRIPT_LINE_BUFFER = 260, SCRIPT_MAX_PIECES = 16 };

// What the parser made of one line. The outcomes from LINE_UNKNOWN_KEY on
// reject the line, and with it the script.
enum ScriptLineOutcome {
    LINE_EMPTY,
    LINE_COMMENT,           // first byte ";"
    LINE_NO_EQUALS,         // ignored
    LINE_SEVERAL_EQUALS,    // ignored
    LINE_SETTING_STORED,    // id, kakunin, target, install, success, post, atomic
    LINE_MACRO_IGNORED,     // install or post that does not expand: ignored
    LINE_COMMAND_STORED,
    LINE_UNKNOWN_KEY,
    LINE_KEY_WITH_BLANK,    // a known key once its blanks are trimmed
    LINE_DLL_PIECES,        // dll value without exactly three pieces
    LINE_SHORTCUT_PIECES,   // shortcut value without exactly two pieces
    LINE_SHORTCUT_MACRO,    // shortcut path that does not expand
    LINE_TOO_MANY_TARGETS,  // more than SCRIPT_MAX_PIECES patterns
    LINE_BAD_SWITCH,        // atomic value other than "0" or "1"
    LINE_NO_MEMORY
};

struct ScriptLineReport {
    ScriptLineOutcome outcome;
    // The key the line was taken for, as the parser spells it (lower case);
    // for LINE_KEY_WITH_BLANK the key it becomes without its blanks. Null for
    // lines without a key and for unknown keys.
    const char *key;
    int act;           // ACT_* of a command line, 0 otherwise
    int equalsPieces;  // pieces of the line at "=" (0 for empty and comment lines)
    int valuePieces;   // pieces of a target (";") or dll, exe, shortcut (",")
                       // value; may exceed SCRIPT_MAX_PIECES; 0 when not split
};

// 1 for the outcomes that end the parse.
int IsRejectedLine(ScriptLineOutcome outcome);

// path (size bytes) holds the executable's path: the last "." and what
// follows it are cut (when there is one), and ".INF" is appended. 0 when the
// result does not fit.
int ScriptPathFromModulePath(char *path, size_t size);

// Opens path in text mode and reads it whole. 1 = read; 0 = not opened or a
// line was rejected. The file is closed on every path.
int ReadScriptFile(const char *path, UpdateScript *script);
// Reads lines from file until its end or a rejected line (0).
int ReadScriptStream(FILE *file, UpdateScript *script);

// Told of every line read: raw holds the bytes exactly as read (rawLength of
// them, zero bytes included, a line feed at the end when the physical line
// ended there), report what the parser made of them. Returns 1 to read on,
// also past a rejected line, 0 to stop.
typedef int (*ScriptLineSink)(const char *raw, size_t rawLength, const ScriptLineReport *report,
                              void *context);
// ReadScriptStream with every line handed to sink as well. Without a sink it
// is ReadScriptStream. 1 when no line read was rejected.
int ReadScriptStreamEx(FILE *file, UpdateScript *script, ScriptLineSink sink, void *context);
// ReadScriptFile with every line handed to sink as well.
int ReadScriptFileEx(const char *path, UpdateScript *script, ScriptLineSink sink, void *context);

// One line as read (it may still end in CR/LF; it is cut in place).
// 1 = stored or ignored; 0 = the line is rejected and the parse ends.
int ParseScriptLine(char *line, UpdateScript *script);
// The same, telling what became of the line when report is not null.
int ParseScriptLineEx(char *line, UpdateScript *script, ScriptLineReport *report);

// A command line's key and value: 1 = appended to script->commands; 0 = an
// unknown key, a malformed value, or out of memory.
int AddScriptCommand(const char *key, char *value, UpdateScript *script);
// The same, with the outcome and the value's pieces in report (not null).
int AddScriptCommandEx(const char *key, char *value, UpdateScript *script, ScriptLineReport *report);

// The parser's spelling of key when key names one of the fourteen keys
// (letter case ignored), else null.
const char *KnownScriptKey(const char *key);
