#include "run/whatifcmd.h"

#include "base/safefile.h"
#include "exec/history.h"
#include "exec/shortcutname.h"
#include "exec/update.h"
#include "script/script.h"

#include <windows.h>
#include <shlwapi.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

const char NOT_RUN[] = "確認実行のため実行していません";

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

void ReportCopy(WhatIfReport *r, const char *src, const char *dst)
{
    FileFacts from, to;
    if (!Look(src, &from) || from.folder) {
        ReportLine(r, "copy: %s → %s: コピー元がありません (このコマンドは失敗します)", src, dst);
        return;
    }
    Look(dst, &to);
    if (!to.exists) {
        ReportLine(r, "copy: %s → %s: 新しく置きます (%I64u バイト %s)", src, dst, from.size, from.when);
    } else if (to.size == from.size && CompareFileTime(&to.write, &from.write) == 0) {
        ReportLine(r, "copy: %s → %s: 同じファイルです (%I64u バイト %s)", src, dst, from.size, from.when);
    } else {
        ReportLine(r, "copy: %s → %s: 置き換えます (旧 %I64u バイト %s、新 %I64u バイト %s)", src, dst, to.size,
                   to.when, from.size, from.when);
    }
}

void ReportRemove(WhatIfReport *r, const char *dst)
{
    FileFacts facts;
    if (Look(dst, &facts) && !facts.folder)
        ReportLine(r, "remove: %s: 削除します (%I64u バイト %s)", dst, facts.size, facts.when);
    else
        ReportLine(r, "remove: %s: ありません (削除に失敗し、中止・再試行・無視を尋ねます)", dst);
}

void ReportCreate(WhatIfReport *r, const char *dst)
{
    FileFacts facts;
    if (Look(dst, &facts))
        ReportLine(r, "create: %s: 既にあります", dst);
    else
        ReportLine(r, "create: %s: 作成します", dst);
}

// The plug-in as the executor looks for it: in the update folder by its full
// path, else by name in the system's places.
void ReportDll(WhatIfReport *r, const char *srcFolder, const char *src, const char *dst, const AddOnExtra *extra)
{
    const char *dll = extra && extra->dll ? extra->dll : "";
    const char *func = extra && extra->func ? extra->func : "";
    char path[MAX_PATH_BYTES];
    FileFacts facts;
    if (!PathIsRelativeA(dll) || !JoinPath(path, sizeof(path), srcFolder, dll) || !Look(path, &facts))
        StrCopy(path, sizeof(path), "システムの場所から読み込み");
    ReportLine(r, "dll: %s (%s) の %s(%s, %s) を呼び出します: %s", dll, path, func, src, dst, NOT_RUN);
}

void ReportExec(WhatIfReport *r, const char *src, const char *folder, const char *params)
{
    char param[EXEC_TEXT_BUFFER] = "";
    char command[EXEC_TEXT_BUFFER];
    if (params && (!StrCopy(param, sizeof(param), params) || !ReplaceDstPath(param, sizeof(param), folder))) {
        ReportLine(r, "exe: %s: 引数が長すぎます (このコマンドは失敗します)", src);
        return;
    }
    DWORD got = ExpandEnvironmentStringsA(src, command, sizeof(command));
    if (got == 0 || got > sizeof(command))
        StrCopy(command, sizeof(command), src);
    ReportLine(r, "exe: %s を引数 [%s] で起動し、終了を待ちます: %s", command, param, NOT_RUN);
}

void ReportShortcut(WhatIfReport *r, const char *path, const char *folder, const char *file)
{
    const char *name = ShortcutNameOf(path);
    if (!name || !IsValidShortcutName(name)) {
        ReportLine(r, "shortcut: %s: ショートカット名が不正です (このコマンドは失敗します)", path);
        return;
    }
    char target[MAX_PATH_BYTES];
    char link[MAX_PATH_BYTES];
    FileFacts facts;
    int fits = JoinPath(target, sizeof(target), folder, file);
    if (!fits || !Look(target, &facts) || facts.folder) {
        ReportLine(r, "shortcut: %s.lnk: リンク先 %s がないため作成しません", path, fits ? target : file);
        return;
    }
    snprintf(link, sizeof(link), "%s.lnk", path);
    ReportLine(r, "shortcut: %s: %s (リンク先 %s)", link, Look(link, &facts) ? "置き換えます" : "作成します", target);
}

void ReportLog(WhatIfReport *r, const char *folder, const char *comment, const char *id)
{
    char *line = HistoryLineOf(comment, id);
    if (line)
        ReportLine(r, "log: %supdate.log に追加します: %s", folder, line);
    free(line);
}

void ReportInstalled(WhatIfReport *r, const char *folder, const char *id)
{
    char *oldValue = nullptr;
    char *newValue = nullptr;
    if (InstalledValues(folder, id, &oldValue, &newValue))
        ReportLine(r, "INSTALLED: %sMIRO42.INI [MAIN] INSTALLED=%s → %s", folder, oldValue, newValue);
    else
        ReportLine(r, "INSTALLED: %sMIRO42.INI を読めないため書き込みません (エラー %lu)", folder, GetLastError());
    free(oldValue);
    free(newValue);
}

void ReportCommand(WhatIfReport *r, const char *srcFolder, const char *folder, const FileEntry *entry, const char *id)
{
    char src[EXEC_TEXT_BUFFER] = "";
    char dst[EXEC_TEXT_BUFFER] = "";
    int built = CommandPathsFor(srcFolder, folder, entry, src, dst);
    int needs = entry->act == ACT_COPY || entry->act == ACT_DLL ? 3 : entry->act == ACT_EXE ? 1 : 2;
    if (entry->act != ACT_SHORTCUT && entry->act != ACT_LOG && (built & needs) != needs) {
        ReportLine(r, "%s: パスが長すぎます (このコマンドは失敗します)", entry->filename);
        return;
    }
    switch (entry->act) {
    case ACT_COPY:
        return ReportCopy(r, src, dst);
    case ACT_REMOVE:
        return ReportRemove(r, dst);
    case ACT_DLL:
        return ReportDll(r, srcFolder, src, dst, (const AddOnExtra *)entry->extra);
    case ACT_EXE:
        return ReportExec(r, src, folder, (const char *)entry->extra);
    case ACT_SHORTCUT:
        return ReportShortcut(r, (const char *)entry->extra, folder, entry->filename);
    case ACT_LOG:
        return ReportLog(r, folder, entry->filename, id);
    default:
        return ReportCreate(r, dst);
    }
}

} // namespace

void ReportCommands(WhatIfReport *report, const char *srcFolder, const char *folder, const PtrList *commands,
                    const char *id)
{
    // Held as the run holds it, so that the settings file is read as the run reads it.
    FolderHold hold;
    HoldFolder(&hold, folder);
    for (PtrNode *cursor = PtrListFirst(commands); cursor;)
        ReportCommand(report, srcFolder, folder, (const FileEntry *)PtrListNextData(&cursor), id);
    if (id && id[0])
        ReportInstalled(report, folder, id);
    ReleaseFolder(&hold);
}
