#include "base/messages.h"

const char *const MessageTable[RESULT_COUNT] = {
    "正常に更新しました。",
    "メモリ不足のため、処理を続行できません。中止します。",
    "設定ファイルの読み込みに失敗しました。",
    "対象となるルミテルが見つかりません。",
    "更新処理が失敗しました。もう一度始めからやり直してください。",
    "アクセスできないファイルがあるため、処理を続行できません。中止します。",
    "対象となるルミテルが見つかりません。(6)",
    "ディスクの空容量不足のため、処理を続行できません。中止します。",
    "更新ファイルが正しくないため、処理を続行できません。中止します。",
};

const char CAPTION_CONFIRM[] = "確認";
const char CAPTION_FINISHED[] = "終了";
const char CAPTION_ERROR[] = "エラー";
