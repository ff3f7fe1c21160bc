#include "run/whatifcmd.h"

#include "base/runrecord.h"
#include "base/safefile.h"
#include "exec/history.h"
#include "exec/shortcutname.h"
#include "exec/update.h"
#include "script/script.h"

#include <windows.h>
#include <shlwapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

enum { TEXT_BYTES = 1536 };

const char NOT_RUN[] = "確認実行のため実行していません";
// A failure the dry run is sure of, and one that a plug-in or program run
// before could still prevent by making the file.
const char FAILS[] = " (このコマンドは失敗します)";
const char FAILS_UNLESS[] = " (前のプラグインかプログラムが作らない限り、このコマンドは失敗します)";
const char SKIPPED[] = " (前のコマンドが失敗するため実行されません)";

// One command's line and what becomes of it (OUTCOME_*); path: the file at
// fault when it fails.
struct Foresight {
    char text[TEXT_BYTES];
    int outcome;
    const char *path;
};

struct FileFacts {
    int exists;
    int folder;
    unsigned long long size;
    FILETIME write;
    char when[32];
};

int Look(const char *path, FileFacts *facts)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    facts->exists = GetFileAttributesExA(path, GetFileExInfoStandard, &data) != 0;
    facts->folder = facts->exists && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    facts->when[0] = '\0';
    if (!facts->exists)
        return 0;
    facts->size = ((unsigned long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    facts->write = data.ftLastWriteTime;
    FILETIME local;
    SYSTEMTIME st;
    if (FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) && FileTimeToSystemTime(&local, &st))
        snprintf(facts->when, sizeof(facts->when), "%u/%02u/%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay,
                 st.wHour, st.wMinute, st.wSecond);
    return 1;
}

// 'F' (a file), 'D' (a folder) or 0 (nothing) at path once the commands
// before have run: the last change they make there, else the disk, whose
// facts go to facts (exists 0 for a file only a command before makes).
char KindAt(const DryState *state, const char *path, FileFacts *facts)
{
    char kind = 1;
    for (PtrNode *cursor = PtrListFirst(state->changes); cursor;) {
        const char *change = (const char *)PtrListNextData(&cursor);
        if (AsciiStricmp(change + 1, path) == 0)
            kind = change[0] == '-' ? 0 : change[0];
    }
    facts->exists = 0;
    if (kind != 1)
        return kind;
    return !Look(path, facts) ? 0 : facts->folder ? 'D' : 'F';
}

// The folder path is in is there once the commands before have run. The
// last folder found is kept: the commands of an update mostly write into
// the same few folders, and a dry run under Wine pays a round trip to the
// server for each look (no command removes a folder).
int ParentThere(DryState *state, const char *path)
{
    char parent[MAX_PATH_BYTES];
    FileFacts facts;
    if (!StrCopy(parent, sizeof(parent), path))
        return 0;
    char *slash = MbsRChr(parent, '\\');
    if (!slash)
        return 1;
    *slash = '\0';
    if (slash == parent || slash[-1] == ':' || AsciiStricmp(parent, state->folderThere) == 0)
        return 1;
    if (KindAt(state, parent, &facts) != 'D')
        return 0;
    StrCopy(state->folderThere, sizeof(state->folderThere), parent);
    return 1;
}

void Change(DryState *state, char kind, const char *path)
{
    if (state->frozen)
        return;
    size_t n = strlen(path);
    char *change = (char *)malloc(n + 2);
    if (!change)
        return;
    change[0] = kind;
    memcpy(change + 1, path, n + 1);
    if (!PtrListAppend(state->changes, change))
        free(change);
}

// A failure foreseen: sure when the command itself is at fault, else (a file
// that is not there) unless a plug-in or program before could make it. A
// command that is not run at all is not said to fail.
void Fails(Foresight *f, const DryState *state, const char *path, int sure)
{
    int certain = sure || !state->guessing;
    f->outcome = certain ? OUTCOME_FAILED : OUTCOME_UNKNOWN;
    f->path = path;
    if (!state->frozen)
        StrAppend(f->text, sizeof(f->text), certain ? FAILS : FAILS_UNLESS);
}

void Describe(Foresight *f, const char *format, ...)
#if defined(__MINGW32__)
    __attribute__((format(ms_printf, 2, 3)))
#endif
    ;

void Describe(Foresight *f, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(f->text, sizeof(f->text), format, args);
    va_end(args);
}

void ForeseeCopy(Foresight *f, DryState *state, const char *src, const char *dst)
{
    FileFacts from, to;
    if (KindAt(state, src, &from) != 'F') {
        Describe(f, "copy: %s → %s: コピー元がありません", src, dst);
        return Fails(f, state, src, 0);
    }
    if (!ParentThere(state, dst)) {
        Describe(f, "copy: %s → %s: コピー先のフォルダがありません", src, dst);
        return Fails(f, state, dst, 0);
    }
    Look(dst, &to);
    if (!from.exists)
        Describe(f, "copy: %s → %s: 前のコマンドが置くファイルを置きます", src, dst);
    else if (!to.exists)
        Describe(f, "copy: %s → %s: 新しく置きます (%I64u バイト %s)", src, dst, from.size, from.when);
    else if (to.size == from.size && CompareFileTime(&to.write, &from.write) == 0)
        Describe(f, "copy: %s → %s: 同じファイルです (%I64u バイト %s)", src, dst, from.size, from.when);
    else
        Describe(f, "copy: %s → %s: 置き換えます (旧 %I64u バイト %s、新 %I64u バイト %s)", src, dst, to.size, to.when,
                 from.size, from.when);
    Change(state, 'F', dst);
}

void ForeseeRemove(Foresight *f, DryState *state, const char *dst)
{
    FileFacts facts;
    if (KindAt(state, dst, &facts) != 'F') {
        Describe(f, "remove: %s: ありません: 削除に失敗し、中止・再試行・無視を尋ねます", dst);
        return Fails(f, state, dst, 0);
    }
    if (facts.exists)
        Describe(f, "remove: %s: 削除します (%I64u バイト %s)", dst, facts.size, facts.when);
    else
        Describe(f, "remove: %s: 削除します (前のコマンドが置くファイル)", dst);
    Change(state, '-', dst);
}

void ForeseeCreate(Foresight *f, DryState *state, const char *dst)
{
    FileFacts facts;
    if (KindAt(state, dst, &facts)) {
        Describe(f, "create: %s: 既にあります", dst);
        return;
    }
    if (!ParentThere(state, dst)) {
        Describe(f, "create: %s: その上のフォルダがありません", dst);
        return Fails(f, state, dst, 0);
    }
    Describe(f, "create: %s: 作成します", dst);
    Change(state, 'D', dst);
}

// A plug-in named by a full path is loaded from there; one named relative to
// the update folder from there, else by name from the system folder alone.
int InSystemFolder(const DryState *state, const char *dll)
{
    char system[MAX_PATH_BYTES];
    char path[MAX_PATH_BYTES];
    FileFacts facts;
    UINT n = GetSystemDirectoryA(system, sizeof(system));
    if (!PathIsRelativeA(dll))
        return KindAt(state, dll, &facts) == 'F';
    return n > 0 && n < sizeof(system) && JoinPath(path, sizeof(path), system, dll) &&
           KindAt(state, path, &facts) == 'F';
}

// The plug-in as the executor looks for it; its result is its own.
void ForeseeDll(Foresight *f, DryState *state, const char *srcFolder, const char *src, const char *dst,
                const AddOnExtra *extra)
{
    const char *dll = extra && extra->dll ? extra->dll : "";
    const char *func = extra && extra->func ? extra->func : "";
    char path[MAX_PATH_BYTES];
    FileFacts facts;
    int inUpdate =
        PathIsRelativeA(dll) && JoinPath(path, sizeof(path), srcFolder, dll) && KindAt(state, path, &facts) == 'F';
    if (!inUpdate && !InSystemFolder(state, dll)) {
        Describe(f, "dll: %s: プラグインが見つかりません", dll);
        Fails(f, state, dll, 0);
    } else {
        if (!inUpdate)
            StrCopy(path, sizeof(path), "システムの場所から読み込み");
        Describe(f, "dll: %s (%s) の %s(%s, %s) を呼び出します: %s", dll, path, func, src, dst, NOT_RUN);
    }
    state->guessing = 1;
}

// A program named with its extension that is not there cannot start; one
// without may still be found by the shell under another name.
void ForeseeExec(Foresight *f, DryState *state, const char *src, const char *folder, const char *params)
{
    char param[EXEC_TEXT_BUFFER] = "";
    char command[EXEC_TEXT_BUFFER];
    if (params && (!StrCopy(param, sizeof(param), params) || !ReplaceDstPath(param, sizeof(param), folder))) {
        Describe(f, "exe: %s: 引数が長すぎます", src);
        return Fails(f, state, src, 1);
    }
    DWORD got = ExpandEnvironmentStringsA(src, command, sizeof(command));
    if (got == 0 || got > sizeof(command))
        StrCopy(command, sizeof(command), src);
    FileFacts facts;
    if (!PathIsRelativeA(command) && strchr(PathLastComponent(command), '.') && KindAt(state, command, &facts) != 'F') {
        Describe(f, "exe: %s: プログラムがありません", command);
        Fails(f, state, src, 0);
    } else {
        Describe(f, "exe: %s を引数 [%s] で起動し、終了を待ちます: %s", command, param, NOT_RUN);
    }
    state->guessing = 1;
}

void ForeseeShortcut(Foresight *f, const DryState *state, const char *path, const char *folder, const char *file)
{
    const char *name = ShortcutNameOf(path);
    if (!name || !IsValidShortcutName(name)) {
        Describe(f, "shortcut: %s: ショートカット名が不正です", path);
        return Fails(f, state, path, 1);
    }
    char target[MAX_PATH_BYTES];
    char link[MAX_PATH_BYTES];
    FileFacts facts;
    int fits = JoinPath(target, sizeof(target), folder, file);
    if (!fits || !Look(target, &facts) || facts.folder) {
        Describe(f, "shortcut: %s.lnk: リンク先 %s がないため作成しません", path, fits ? target : file);
        return;
    }
    snprintf(link, sizeof(link), "%s.lnk", path);
    Describe(f, "shortcut: %s: %s (リンク先 %s)", link, Look(link, &facts) ? "置き換えます" : "作成します", target);
}

void ForeseeLog(Foresight *f, const char *folder, const char *comment, const char *id)
{
    char *line = HistoryLineOf(comment, id);
    Describe(f, "log: %supdate.log に追加します: %s", folder, line ? line : "");
    free(line);
}

void ReportInstalled(WhatIfReport *r, const char *folder, const char *id, int failed)
{
    char *oldValue = nullptr;
    char *newValue = nullptr;
    if (failed)
        ReportLine(r, "INSTALLED: %sMIRO42.INI: コマンドが失敗するため登録しません", folder);
    else if (InstalledValues(folder, id, &oldValue, &newValue))
        ReportLine(r, "INSTALLED: %sMIRO42.INI [MAIN] INSTALLED=%s → %s", folder, oldValue, newValue);
    else
        ReportLine(r, "INSTALLED: %sMIRO42.INI を読めないため書き込みません (エラー %lu)", folder, GetLastError());
    free(oldValue);
    free(newValue);
}

void Foresee(Foresight *f, DryState *state, const char *srcFolder, const char *folder, const FileEntry *entry,
             const char *id)
{
    char src[EXEC_TEXT_BUFFER] = "";
    char dst[EXEC_TEXT_BUFFER] = "";
    int built = CommandPathsFor(srcFolder, folder, entry, src, dst);
    int needs = entry->act == ACT_COPY || entry->act == ACT_DLL ? 3 : entry->act == ACT_EXE ? 1 : 2;
    if (entry->act != ACT_SHORTCUT && entry->act != ACT_LOG && (built & needs) != needs) {
        Describe(f, "%s: パスが長すぎます", entry->filename);
        return Fails(f, state, entry->filename, 1);
    }
    switch (entry->act) {
    case ACT_COPY:
        return ForeseeCopy(f, state, src, dst);
    case ACT_REMOVE:
        return ForeseeRemove(f, state, dst);
    case ACT_DLL:
        return ForeseeDll(f, state, srcFolder, src, dst, (const AddOnExtra *)entry->extra);
    case ACT_EXE:
        return ForeseeExec(f, state, src, folder, (const char *)entry->extra);
    case ACT_SHORTCUT:
        return ForeseeShortcut(f, state, (const char *)entry->extra, folder, entry->filename);
    case ACT_LOG:
        return ForeseeLog(f, folder, entry->filename, id);
    default:
        return ForeseeCreate(f, state, dst);
    }
}

} // namespace

void DryStateFree(DryState *state)
{
    PtrListFreeStrings(state->changes);
    state->changes = nullptr;
}

int ReportCommands(WhatIfReport *report, const char *srcFolder, const char *folder, const PtrList *commands,
                   const char *id, DryState *state)
{
    int failed = 0;
    // Held as the run holds it, so that the settings file is read as the run reads it.
    FolderHold hold;
    HoldFolder(&hold, folder);
    RecordFolderStart(folder);
    for (PtrNode *cursor = PtrListFirst(commands); cursor;) {
        const FileEntry *entry = (const FileEntry *)PtrListNextData(&cursor);
        Foresight f;
        f.outcome = entry->act == ACT_DLL || entry->act == ACT_EXE ? OUTCOME_UNKNOWN : OUTCOME_DONE;
        f.path = nullptr;
        // A command after a sure failure is not run: what it would meet is
        // still told, and it changes nothing for the commands after it.
        DryState view = *state;
        view.frozen = failed;
        Foresee(&f, &view, srcFolder, folder, entry, id);
        ReportLine(report, "%s%s", f.text, failed ? SKIPPED : "");
        if (failed)
            continue;
        *state = view;
        RecordFaultPath(f.path);
        RecordPrediction(f.outcome);
        failed = f.outcome == OUTCOME_FAILED;
    }
    if (id && id[0])
        ReportInstalled(report, folder, id, failed);
    ReleaseFolder(&hold);
    return !failed;
}
