#include "run/whatif.h"

#include "base/dryrun.h"
#include "base/messages.h"
#include "base/runrecord.h"
#include "base/tracelog.h"
#include "checks/checkfile.h"
#include "checks/checkrules.h"
#include "checks/diskspace.h"
#include "checks/holder.h"
#include "exec/history.h"
#include "exec/recover.h"
#include "run/whatifcmd.h"
#include "run/whatifreport.h"
#include "target/versiongate.h"

#include <windows.h>

namespace {

WhatIfReport g_report = {nullptr, 0, 0};
char g_path[MAX_PATH_BYTES];
int g_appLooked = 0;

// The application's process, when its window is up: what the system can
// tell of who holds a module. Looked for where the real run looks for it,
// before the first module, and only then: the window library loads with
// the first question about a window.
void ReportRunningApp(WhatIfReport *r)
{
    HWND wnd = FindWindowA(APP_WINDOW_CLASS, nullptr);
    if (!wnd)
        return;
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    char image[MAX_PATH_BYTES] = "";
    DWORD size = sizeof(image);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process) {
        if (!QueryFullProcessImageNameA(process, 0, image, &size))
            image[0] = '\0';
        CloseHandle(process);
    }
    ReportLine(r, "実行中のルミテル: %s (プロセス ID %lu): 実際の更新ではその終了を 15 秒まで待ちます", image,
               pid);
}

// A held module names its holder where the system tells it.
void ModuleFound(void *data, const char *folder, const char *filename, int held)
{
    WhatIfReport *r = (WhatIfReport *)data;
    if (!g_appLooked)
        ReportRunningApp(r);
    g_appLooked = 1;
    char path[MAX_PATH_BYTES];
    unsigned long pid = 0;
    char program[MAX_PATH_BYTES];
    if (!held)
        ReportLine(r, "モジュール: %s%s: 使用されていません", folder, filename);
    else if (JoinPath(path, sizeof(path), folder, filename) && FindModuleHolder(path, &pid, program, sizeof(program)))
        ReportLine(r, "モジュール: %s%s: ほかのプログラムが使用中です: %s (プロセス ID %lu)", folder, filename,
                   program, pid);
    else
        ReportLine(r, "モジュール: %s%s: ほかのプログラムが使用中です", folder, filename);
}

void SpaceFound(void *data, const char *dst, long long needed, long long freeBytes)
{
    unsigned short drive = DriveIndexOf(dst);
    ReportLine((WhatIfReport *)data, "空き容量: %s (ドライブ %c:) 必要 %I64d バイト、空き %I64d バイト: %s", dst,
               drive <= DRIVE_INDEX_Z ? 'A' + drive : '?', needed, freeBytes,
               freeBytes < needed ? "足りません" : "足ります");
}

void ReportVersion(WhatIfReport *r, const char *folder, const char *verdict)
{
    char version[9];
    if (ReadDataVersion(folder, version))
        ReportLine(r, "対象: %s (データバージョン %s: %s)", folder, version, verdict);
    else if (GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES)
        ReportLine(r, "対象: %s (インストール先: まだないので作成します)", folder);
    else
        ReportLine(r, "対象: %s (RT_IDX.DAT を読めません: %s)", folder, verdict);
}

// The copies the version check refused, each marked when its INSTALLED shows
// that this update ran there before.
void ReportRefused(const UpdateScript &script)
{
    for (PtrNode *cursor = PtrListFirst(GetRunRecord()->folders); cursor;) {
        const RecordedFolder *folder = (const RecordedFolder *)PtrListNextData(&cursor);
        if (folder->accepted)
            continue;
        int updated = InstalledListsId(folder->folder, script.id);
        ReportLine(&g_report, "対象外: %s (データバージョン %s: この更新の target に合いません%s%s%s)", folder->folder,
                   folder->versionRead ? folder->version : "なし", updated ? "。INSTALLED に " : "",
                   updated ? script.id : "", updated ? " があり、更新済みです" : "");
    }
}

int ReportDestinations(int nResult, const char *cmdDst, const PtrList *dsts, const UpdateScript &script)
{
    if (nResult == RESULT_GATE_REFUSED) {
        // An overlong folder on the command line is refused unread.
        if (cmdDst[0])
            ReportVersion(&g_report, cmdDst, "対象外です");
        else
            ReportLine(&g_report, "対象: コマンドラインのフォルダが長すぎます: 対象外です");
        return nResult;
    }
    ReportRefused(script);
    if (nResult == RESULT_NO_DESTINATION) {
        ReportLine(&g_report, "対象: %s (「自分で指定しますか？」には「いいえ」と答えました)",
                   MessageTable[RESULT_NO_DESTINATION]);
        return nResult;
    }
    for (PtrNode *cursor = PtrListFirst(dsts); cursor;) {
        const char *folder = (const char *)PtrListNextData(&cursor);
        ReportVersion(&g_report, folder, "適用できます");
        if (IsCutShort(folder))
            ReportLine(&g_report, "中断: %s に途中で止まった更新があります: 実行すると、まずそれを元に戻すか完了します",
                       folder);
    }
    if (script.kakunin)
        ReportLine(&g_report, "確認: 「%s」は尋ねません", script.kakunin);
    return nResult;
}

} // namespace

void WhatIfStart(const char *reportPath, const char *cmdLine, const char *srcFolder)
{
    SetDryRun(1);
    if (!(reportPath[0] ? StrCopy(g_path, sizeof(g_path), reportPath) : ReportDefaultPath(g_path)))
        g_path[0] = '\0';
    TracePrintf("dry run (-whatif): nothing is changed; report %s\n", g_path);
    ReportLine(&g_report, "確認実行 (-whatif): このコンピュータでは何も変更していません。");
    ReportLine(&g_report, "更新フォルダ: %s", srcFolder);
    ReportLine(&g_report, "コマンドライン: %s", cmdLine);
}

int WhatIfRefuseOption(const char *option)
{
    TracePrintf("\tdry run option refused - %s\n", option);
    ReportLine(&g_report, "確認実行のオプション「%s」は使えません: -whatif または -whatif=PATH と書いてください。"
                          "何も読まずに終了します", option);
    return RESULT_BAD_SCRIPT;
}

int WhatIfSteps(int nResult, const char *srcFolder, const char *cmdDst, const PtrList *dsts,
                const UpdateScript &script)
{
    if (script.id)
        ReportLine(&g_report, "更新 ID: %s", script.id);
    if (ReportDestinations(nResult, cmdDst, dsts, script) != RESULT_SUCCESS)
        return nResult;
    if (!CheckFileEach(dsts, script.commands, ModuleFound, &g_report))
        nResult = RESULT_LOCKED_FILE;
    if (!checkSpacePeak(dsts, srcFolder, script.atomic ? PEAK_ALL_AT_ONCE : PEAK_ONE_AT_A_TIME, SpaceFound,
                        &g_report) &&
        nResult == RESULT_SUCCESS)
        nResult = RESULT_NO_SPACE;
    // Every destination is looked at, as the real run works in every one; a
    // sure failure in any makes the run's code 4.
    DryState state = {PtrListCreate(), 0, 0, ""};
    int anyFailed = 0;
    for (PtrNode *cursor = PtrListFirst(dsts); cursor;) {
        const char *folder = (const char *)PtrListNextData(&cursor);
        ReportLine(&g_report, "コマンド: %s", folder);
        if (!ReportCommands(&g_report, srcFolder, folder, script.commands, script.id, &state))
            anyFailed = 1;
    }
    DryStateFree(&state);
    if (anyFailed && nResult == RESULT_SUCCESS)
        nResult = RESULT_UPDATE_FAILED;
    return nResult;
}

void WhatIfFinish(int nResult, const UpdateScript &script, const char *badFile)
{
    if (nResult == RESULT_SUCCESS && script.post)
        ReportLine(&g_report, "post: %s をデスクトップのユーザーとして起動します: 確認実行のため起動していません",
                   script.post);
    const char *text = nResult >= 0 && nResult < RESULT_COUNT ? MessageTable[nResult] : "";
    if (nResult == RESULT_UPDATE_FAILED)
        ReportLine(&g_report, "予測の前提: 無人実行と同じ答え (中止・再試行・無視の問いには「中止」)。人が「無視」と"
                              "答えれば、失敗するコピーと削除を飛ばして続けます");
    if (nResult == RESULT_SUCCESS)
        text = "実際の更新の終了コードは、コマンドの結果によって 0 か 4 になります。";
    ReportLine(&g_report, "終了コード: %d %s%s%s", nResult, text, nResult == RESULT_BAD_PACKAGE ? " " : "",
               nResult == RESULT_BAD_PACKAGE ? badFile : "");
    if (g_path[0])
        ReportWrite(&g_report, g_path);
    ReportFree(&g_report);
}
