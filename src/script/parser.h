// The portable part of the update script reader: the script's location next
// to the executable, its lines, and the keys and commands they set. The
// folder macros are reached through script/foldermacro.h.
#pragma once

#include "script/script.h"

#include <stdio.h>

// A line is read in pieces of at most SCRIPT_LINE_BUFFER - 1 bytes; the rest
// of a longer physical line comes as the next line. Every split of a line or
// value has room for SCRIPT_MAX_PIECES pieces.
enum { SCRIPT_LINE_BUFFER = 260, SCRIPT_MAX_PIECES = 16 };

// path (size bytes) holds the executable's path: the last "." and what
// follows it are cut (when there is one), and ".INF" is appended. 0 when the
// result does not fit.
int ScriptPathFromModulePath(char *path, size_t size);

// Opens path in text mode and reads it whole. 1 = read; 0 = not opened or a
// line was rejected. The file is closed on every path.
int ReadScriptFile(const char *path, UpdateScript *script);
// Reads lines from file until its end or a rejected line (0).
int ReadScriptStream(FILE *file, UpdateScript *script);
// One line as read (it may still end in CR/LF; it is cut in place).
// 1 = stored or ignored; 0 = the line is rejected and the parse ends.
int ParseScriptLine(char *line, UpdateScript *script);
// A command line's key and value: 1 = appended to script->commands; 0 = an
// unknown key, a malformed value, or out of memory.
int AddScriptCommand(const char *key, char *value, UpdateScript *script);
