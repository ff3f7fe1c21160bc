#!/usr/bin/env bash
# make try-update's script on the guide's typical example: the report of an
# accepted run (exit 0, both boxes, the files and the id), and of a copy whose
# data version the script does not take (the question answered No, exit 3).
# Runs inside scripts/with-wine-env.sh, as every test does.
set -u
build=$1 source=$2
folder="$build/try-update-test"
rm -rf "$folder"
mkdir -p "$folder"
cp "$source/docs/examples/typical.INF" "$folder/Lumiupd.INF"
printf 'new library' >"$folder/MIRO42.DLL"
python3 - "$folder/RT_IDX.DAT" <<'PY'
import sys
data = bytearray(128); data[72:76] = b"1.30"
open(sys.argv[1], "wb").write(bytes(data))
PY
fail=0
expect() {  # expect WHAT TEXT: the report holds the line
  grep -qxF -- "$2" "$build/try-update-test.out" || { echo "FAIL ($1): no line [$2]"; fail=1; }
}

"$source/scripts/try-update.sh" "$build" "$folder" 1.2 "" "yes ok" >"$build/try-update-test.out" 2>&1
code=$?
[ "$code" = 0 ] || { echo "FAIL: accepted run exited $code"; fail=1; }
expect accepted "== Exit code: 0"
expect accepted "  box: caption=[確認] icon=question answered=6"
expect accepted "  box: caption=[終了] icon=information answered=1"
expect accepted "== INSTALLED in MIRO42.INI: before [U0100], after [U0100,U0301]"
grep -q "^  after:  RT_IDX.DAT 128 " "$build/try-update-test.out" || { echo "FAIL (accepted): RT_IDX.DAT not replaced"; fail=1; }
grep -q "U0301	ルミテル" "$build/try-update-test.out" && { echo "FAIL (accepted): a history line without a log command"; fail=1; }
expect accepted "  nResult = 0"
[ "$fail" = 0 ] || cat "$build/try-update-test.out"

"$source/scripts/try-update.sh" "$build" "$folder" 2.0 "-auto" "no ok" >"$build/try-update-test.out" 2>&1
code=$?
[ "$code" = 3 ] || { echo "FAIL: refused version exited $code"; fail=1; }
expect refused "== Exit code: 3"
expect refused "== INSTALLED in MIRO42.INI: before [U0100], after [U0100]"
expect refused "  nResult = 3"
[ "$fail" = 0 ] || cat "$build/try-update-test.out"
TRY_WHATIF=1 "$source/scripts/try-update.sh" "$build" "$folder" 1.2 "" "" >"$build/try-update-test.out" 2>&1
code=$?
[ "$code" = 0 ] || { echo "FAIL: dry run exited $code"; fail=1; }
expect whatif "== INSTALLED in MIRO42.INI: before [U0100], after [U0100]"
expect whatif "  INSTALLED: C:\Program Files\LumiTry\App\MIRO42.INI [MAIN] INSTALLED=U0100 → U0100,U0301"
expect whatif "  終了コード: 0 実際の更新の終了コードは、コマンドの結果によって 0 か 4 になります。"
grep -q "^  after: " "$build/try-update-test.out" && { echo "FAIL (whatif): a file changed"; fail=1; }
grep -q "^  box: " "$build/try-update-test.out" && { echo "FAIL (whatif): a box was shown"; fail=1; }
[ "$fail" = 0 ] || cat "$build/try-update-test.out"
# The registration is gone again.
"$build/wine-run.sh" reg query 'HKLM\Software\Kevrani\ルミテル ミルテ版' >/dev/null 2>&1 && { echo "FAIL: registration left behind"; fail=1; }
rm -rf "$folder"
[ "$fail" = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
