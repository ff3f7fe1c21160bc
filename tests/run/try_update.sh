#!/usr/bin/env bash
# make try-update's script on the guide's typical example: the report of an
# accepted run (exit 0, both boxes, the files and the id), of a copy whose
# data version the script does not take (the question answered No, exit 3),
# of a script saved as UTF-8 that writes into an install folder, of answers
# that do not fit, and of a copy on a small drive.
# Runs inside scripts/with-wine-env.sh, as every test does.
set -u
build=$1 source=$2
folder="$build/try-update-test"
# shellcheck source=tests/run/typical_update.sh
. "$source/tests/run/typical_update.sh"
typical_update "$folder"
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
# A dry run of a copy in a folder with a blank, named on the command line
# (quoted as at a Windows prompt), that already holds the update's library
# with its time (the seed's and the folder's times are kept: the same file);
# its result file collected from a path relative to the current folder.
mkdir -p "$build/try-update-seed"
cp -p "$folder/MIRO42.DLL" "$build/try-update-seed/"
rm -f "$build/try-update-result.json"
(cd "$build" && TRY_WHATIF=1 TRY_APP='LumiTry\My App' TRY_SEED=try-update-seed TRY_RESULT=try-update-result.json \
  "$source/scripts/try-update.sh" "$build" "$folder" 1.2 '"C:\Program Files\LumiTry\My App"' "") >"$build/try-update-test.out" 2>&1
code=$?
[ "$code" = 0 ] || { echo "FAIL: dry run exited $code"; fail=1; }
expect whatif "== INSTALLED in MIRO42.INI: before [U0100], after [U0100]"
expect whatif "  "$'\t'"cl.dst"$'\t\t'"= C:\Program Files\LumiTry\My App\\"
expect whatif "  INSTALLED: C:\Program Files\LumiTry\My App\MIRO42.INI [MAIN] INSTALLED=U0100 → U0100,U0301"
grep -q "^  copy: .*MIRO42.DLL → .*MIRO42.DLL: 同じファイルです (11 バイト " "$build/try-update-test.out" ||
  { echo "FAIL (whatif): the seeded library is not the same file"; fail=1; }
expect whatif "  終了コード: 0 実際の更新の終了コードは、コマンドの結果によって 0 か 4 になります。"
grep -q '"exitCode": 0,' "$build/try-update-result.json" 2>/dev/null || { echo "FAIL (whatif): no result file"; fail=1; }
# The one file it writes is its own report.
grep "^  after: " "$build/try-update-test.out" | grep -qv "^  after:  whatif.txt " &&
  { echo "FAIL (whatif): a file changed"; fail=1; }
grep -q "^  box: " "$build/try-update-test.out" && { echo "FAIL (whatif): a box was shown"; fail=1; }
[ "$fail" = 0 ] || cat "$build/try-update-test.out"

# An updater that does not start: the report shows no trace, never the one
# an earlier run left. A time-out given as TRY_TIMEOUT is the robot's.
mkdir -p "$build/try-update-broken"
cp "$folder"/* "$build/try-update-broken/"
printf 'not a program' >"$build/try-update-broken/Lumiupd.exe"
for temp in "$build"/wineprefix/drive_c/users/*/Temp; do printf 'EARLIER RUN\r\n' >"$temp/Lumiupd.log"; done
"$source/scripts/try-update.sh" "$build" "$build/try-update-broken" 1.2 "-auto" "" >"$build/try-update-test.out" 2>&1
code=$?
[ "$code" = 125 ] || { echo "FAIL (not started): exited $code, not 125"; fail=1; }
grep -q "EARLIER RUN" "$build/try-update-test.out" && { echo "FAIL (not started): an earlier run's trace"; fail=1; }
expect "not started" "== Stopped by the robot: the updater did not start: the system could not run C:\LumiTry\Update\Lumiupd.exe"
[ "$fail" = 0 ] || cat "$build/try-update-test.out"
printf 'id=U0399\r\ntarget=1.2\r\n' >"$build/try-update-broken/Lumiupd.INF"
for n in 1 2 3 4 5 6 7 8 9 10; do printf 'create=d%s\r\n' $n >>"$build/try-update-broken/Lumiupd.INF"; done
rm "$build/try-update-broken/Lumiupd.exe"
TRY_TIMEOUT=1 "$source/scripts/try-update.sh" "$build" "$build/try-update-broken" 1.2 "-auto" "" >"$build/try-update-test.out" 2>&1
code=$?
[ "$code" = 125 ] || { echo "FAIL (time-out): exited $code, not 125"; fail=1; }
grep -q "^== Stopped by the robot: the updater did not end within the robot's time-out (1 s; " "$build/try-update-test.out" ||
  { echo "FAIL (time-out): TRY_TIMEOUT did not reach the robot"; fail=1; }
[ "$fail" = 0 ] || cat "$build/try-update-test.out"
rm -rf "$build/try-update-broken" "$build/try-update-seed"

# A script saved as UTF-8, its history line no CP932 text: the report marks
# the bytes and reaches its end, whose last line is the exit code; the
# screenshot folder is made. An installed copy of data the script does not
# take, with an install folder: what the run writes there is reported, then
# removed again.
iconv -f CP932 -t UTF-8 "$source/docs/examples/typical.INF" >"$folder/Lumiupd.INF"
printf 'log=2026年12月/データ更新\r\ninstall=%%PROGRAM_FILES%%LumiTry\\Install\r\n' >>"$folder/Lumiupd.INF"
rm -rf "$build/try-update-shots" "$build/wineprefix/drive_c/Program Files/LumiTry/Install"
TRY_SHOTS=$build/try-update-shots "$source/scripts/try-update.sh" "$build" "$folder" 2.0 "" "yes ok" \
  >"$build/try-update-test.out" 2>&1
code=$?
[ "$code" = 0 ] || { echo "FAIL: UTF-8 script exited $code"; fail=1; }
[ "$(tail -1 "$build/try-update-test.out")" = "== Exit code: 0" ] || { echo "FAIL (utf8): the exit code is not the last line"; fail=1; }
grep -q '^ *20[0-9]*	U0301	.*\\x87.*' "$build/try-update-test.out" || { echo "FAIL (utf8): no history line with \\x87"; fail=1; }
expect utf8 "== Files changed in C:\\Program Files\\LumiTry\\Install:"
grep -q "^  after:  MIRO42.DLL 11 " "$build/try-update-test.out" || { echo "FAIL (utf8): MIRO42.DLL not reported in the install folder"; fail=1; }
[ -e "$build/wineprefix/drive_c/Program Files/LumiTry/Install" ] && { echo "FAIL (utf8): the install folder is left behind"; fail=1; }
[ -e "$build/try-update-shots/box1.bmp" ] || { echo "FAIL (utf8): no screenshot in a folder that did not exist"; fail=1; }
[ "$fail" = 0 ] || cat "$build/try-update-test.out"

# Answers that do not fit stop the run at once, saying what the box waits
# for: "ok" to the question, "yes" to the "not found" question (the folder
# dialog follows, which the robot cannot answer).
cp "$source/docs/examples/typical.INF" "$folder/Lumiupd.INF"
for case in "1.2:ok:box 1 \[確認\] .* waits for yes or no; answer 1 is ok" \
            "2.0:yes:the folder dialog \[.*\] waits for a folder to be chosen"; do
  IFS=: read -r version answers why <<<"$case"
  start=$SECONDS
  "$source/scripts/try-update.sh" "$build" "$folder" "$version" "" "$answers" >"$build/try-update-test.out" 2>&1
  code=$?
  [ "$code" = 125 ] || { echo "FAIL ($answers): exited $code, not 125"; fail=1; }
  grep -q "^== Stopped by the robot: $why" "$build/try-update-test.out" || { echo "FAIL ($answers): not stopped: $why"; fail=1; }
  [ $((SECONDS - start)) -lt 30 ] || { echo "FAIL ($answers): took $((SECONDS - start)) s"; fail=1; }
  [ "$(tail -1 "$build/try-update-test.out")" = "== Exit code: none" ] || { echo "FAIL ($answers): last line"; fail=1; }
  [ "$fail" = 0 ] || cat "$build/try-update-test.out"
done

# A small drive for the installed copy: the space check reads it (root, as
# it mounts one).
head -c 2000000 /dev/zero >"$folder/RT_IDX.DAT"
TRY_SMALL_DRIVE=1m "$source/scripts/try-update.sh" "$build" "$folder" 1.2 "-auto" "ok" >"$build/try-update-test.out" 2>&1
code=$?
if [ "$(id -u)" = 0 ]; then
  [ "$code" = 7 ] || { echo "FAIL (small drive): exited $code, not 7"; fail=1; }
  expect small "== Exit code: 7"
  grep -qF "installed copy T:\\" "$build/try-update-test.out" || { echo "FAIL (small drive): the copy is not on T:"; fail=1; }
else
  [ "$code" = 2 ] && grep -q "needs root" "$build/try-update-test.out" || { echo "FAIL (small drive): no clear refusal"; fail=1; }
fi
[ -e "$build/smalldisk-t" ] && { echo "FAIL (small drive): left mounted"; fail=1; }
[ "$fail" = 0 ] || cat "$build/try-update-test.out"

# The registration is gone again.
"$build/wine-run.sh" reg query 'HKLM\Software\Kevrani\ルミテル ミルテ版' >/dev/null 2>&1 && { echo "FAIL: registration left behind"; fail=1; }
rm -rf "$folder"
[ "$fail" = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
