#!/usr/bin/env bash
# The updater's main job on a ready sample, under Xvfb: make try-update on an
# update folder whose script uses every command kind, with an installed copy
# in "C:\Program Files\LumiDemo\App" and the stand-in application running.
# The robot answers Yes to the question and OK to the closing box and takes
# screenshots; then the report and what the plug-in, the post program and
# the shortcut did.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
bin="$build/bin"
demo="$build/demo"
stage="$demo/update"
seed="$demo/installed-extra"
rm -rf "$demo"
mkdir -p "$stage/data" "$seed"

# What the sample's commands need of the installed copy besides the usual: an
# old data file the update removes, the program the shortcut and the post
# program name.
printf 'old data\r\n' >"$seed/OLD.DAT"
cp "$bin/LumitelApp.exe" "$seed/Lumitel.exe"
cp "$bin/recorder.exe" "$seed/recorder.exe"

# The update: its script (CP932, CRLF), the new files, a plug-in and a program
# that the script runs.
cp "$bin/MIRO42_fixture.dll" "$stage/MIRO42.DLL"
cp "$bin/lumiplugin.dll" "$bin/recorder.exe" "$stage/"
printf 'new data\r\n' >"$stage/data/NEWDATA.DAT"
# A large file: its copy keeps the progress dialog up long enough to be
# photographed.
head -c $((256 * 1024 * 1024)) /dev/zero >"$stage/data/MAP.DAT"
printf 'plug-in log\r\n' >"$stage/PLUGIN.LOG"
printf '%s\r\n' \
  '; every command kind' \
  'id=U0200' \
  'kakunin=ルミテルを更新します。#よろしいですか？' \
  'target=1.1' \
  'success=更新が終わりました。#ルミテルを起動します。' \
  'post=%PROGRAM_FILES%LumiDemo\App\recorder.exe' \
  'copy=MIRO42.DLL' \
  'create=data' \
  'copy=data\NEWDATA.DAT' \
  'copy=data\MAP.DAT' \
  'remove=OLD.DAT' \
  'dll=PLUGIN.LOG,lumiplugin.dll,RecordPaths' \
  'exe=recorder.exe,%DSTPATH% code:0' \
  'shortcut=%DESKTOP%ルミテル デモ,Lumitel.exe' \
  'log=2026年12月/デモ更新' \
  | iconv -f UTF-8 -t CP932 >"$stage/Lumiupd.INF"

# The run itself is the one every update folder gets from make try-update;
# the running application ends by itself 3 seconds in, and the updater waits
# for it before replacing MIRO42.DLL.
app="$build/wineprefix/drive_c/Program Files/LumiDemo/App"
code=0
TRY_APP='LumiDemo\App' TRY_SEED="$seed" TRY_RUNNING_MS=3000 TRY_SHOTS="$demo" TRY_REPORT="$demo" \
  "$(dirname "$0")/try-update.sh" "$build" "$stage" 1.10 "" "yes ok" || code=$?
rm -f "$stage/data/MAP.DAT" "$app/data/MAP.DAT"

echo "== Plug-in saw:"; [ -f "$app/PLUGIN.LOG" ] && tr -d '\r' <"$app/PLUGIN.LOG" | sed 's/^/  /'
echo "== Post program started:"; [ -f "$app/recorder.txt" ] && tr -d '\r' <"$app/recorder.txt" | sed 's/^/  /'
lnk=$(ls "$build"/wineprefix/drive_c/users/*/Desktop/*.lnk "$build"/wineprefix/drive_c/users/Public/Desktop/*.lnk 2>/dev/null | head -1 || true)
echo "== Shortcut: ${lnk:-none}"

# The robot numbers the boxes it answers: the question, then the closing box.
[ -e "$demo/box1.bmp" ] && mv "$demo/box1.bmp" "$demo/question.bmp"
[ -e "$demo/box2.bmp" ] && mv "$demo/box2.bmp" "$demo/closing.bmp"
shots=""
for bmp in "$demo"/*.bmp; do
  [ -e "$bmp" ] || continue
  png="${bmp%.bmp}.png"
  convert "$bmp" "$png" && rm -f "$bmp" && shots="$shots $(basename "$png")"
done
echo "== Screenshots in $demo:${shots:- none}"
exit $code
