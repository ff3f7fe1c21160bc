#!/usr/bin/env bash
# The updater's main job on a ready sample, under Xvfb: an installed copy in
# "C:\Program Files\LumiDemo\App", registered in the Wine registry, with the
# stand-in application running; an update folder whose script uses every
# command kind. The robot answers Yes to the question and OK to the closing
# box and takes screenshots; then a short report.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
run="$build/wine-run.sh"
bin="$build/bin"
demo="$build/demo"
pf="$build/wineprefix/drive_c/Program Files"
app="$pf/LumiDemo/App"
upd="$build/wineprefix/drive_c/LumiDemo/Update"
key='HKLM\Software\Kevrani\ルミテル ミルテ版'
rm -rf "$demo" "$pf/LumiDemo" "$build/wineprefix/drive_c/LumiDemo"
mkdir -p "$demo" "$app" "$upd/data"

# The installed copy: data version 1.10 at offset 72 of RT_IDX.DAT, its main
# library, its settings file, an old data file the update removes, and the
# stand-in application (it holds MIRO42.DLL while it runs).
python3 - "$app" <<'PY'
import sys, os
app = sys.argv[1]
data = bytearray(128); data[0:4] = b"RTIX"; data[72:80] = b"1.10\0\0\0\0"
open(os.path.join(app, "RT_IDX.DAT"), "wb").write(bytes(data))
open(os.path.join(app, "MIRO42.INI"), "wb").write(b"[MAIN]\r\nINSTALLED=U0100\r\nLANG=ja\r\n")
open(os.path.join(app, "OLD.DAT"), "wb").write(b"old data\r\n")
PY
cp "$bin/MIRO42_fixture.dll" "$app/MIRO42.DLL"
cp "$bin/LumitelApp.exe" "$app/Lumitel.exe"
cp "$bin/recorder.exe" "$app/recorder.exe"
touch -d '2024-01-01 00:00' "$app"/*
"$run" reg delete "$key" /f >/dev/null 2>&1 || true
"$run" reg add "$key\\Demo" /v Path /t REG_SZ /d 'C:\Program Files\LumiDemo\App' /f >/dev/null

# The update: the updater, its script (CP932, CRLF), the new files, a plug-in
# and a program that the script runs.
cp "$bin/Lumiupd.exe" "$upd/"
cp "$bin/MIRO42_fixture.dll" "$upd/MIRO42.DLL"
cp "$bin/lumiplugin.dll" "$bin/recorder.exe" "$upd/"
printf 'new data\r\n' >"$upd/data/NEWDATA.DAT"
# A large file: its copy keeps the progress dialog up long enough to be
# photographed (the dialog paints itself at every step).
head -c $((256 * 1024 * 1024)) /dev/zero >"$upd/data/MAP.DAT"
printf 'plug-in log\r\n' >"$upd/PLUGIN.LOG"
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
  'exe=recorder.exe,"%DSTPATH%" code:0' \
  'shortcut=%DESKTOP%ルミテル デモ,Lumitel.exe' \
  'log=2026年12月/デモ更新' \
  | iconv -f UTF-8 -t CP932 >"$upd/Lumiupd.INF"

installed() { sed -n 's/^INSTALLED=//p' "$app/MIRO42.INI" | tr -d '\r'; }
before=$(installed)
( cd "$app" && find . -type f -printf '%P %s %TY-%Tm-%Td %TH:%TM\n' | sort ) >"$demo/files-before.txt"

# A stand-in desktop shell (the post program borrows its token) and the
# running application, which ends by itself 3 seconds in: the updater waits
# for it before replacing MIRO42.DLL.
"$run" "$bin/shellwindow.exe" &
shell_pid=$!
"$run" 'C:\Program Files\LumiDemo\App\Lumitel.exe' 3000 &
app_pid=$!
sleep 1
cleanup() {
  kill $shell_pid $app_pid 2>/dev/null || true
  rm -f "$upd/data/MAP.DAT" "$app/data/MAP.DAT"
  "$run" reg delete "$key" /f >/dev/null 2>&1 || true
  # The vendor key goes too when the demo's copy was all it held.
  "$run" reg query 'HKLM\Software\Kevrani' /s 2>/dev/null | grep -q . || \
    "$run" reg delete 'HKLM\Software\Kevrani' /f >/dev/null 2>&1 || true
}
trap cleanup EXIT

echo "== Running C:\\LumiDemo\\Update\\Lumiupd.exe"
"$run" "$bin/LumiupdRobot.exe" --answer yes --answer ok --shots "$(winepath -w "$demo" 2>/dev/null)" \
  -- 'C:\LumiDemo\Update\Lumiupd.exe' | iconv -f CP932 -t UTF-8 | tr -d '\r' | tee "$demo/dialogs.txt"
sleep 1

echo "== Files changed in C:\\Program Files\\LumiDemo\\App"
( cd "$app" && find . -type f -printf '%P %s %TY-%Tm-%Td %TH:%TM\n' | sort ) >"$demo/files-after.txt"
diff "$demo/files-before.txt" "$demo/files-after.txt" | sed -n 's/^</  before:/p; s/^>/  after: /p' || true
echo "== History line (update.log)"
[ -f "$app/update.log" ] && iconv -f CP932 -t UTF-8 "$app/update.log" | tr -d '\r' | sed 's/^/  /'
echo "== INSTALLED in MIRO42.INI: before [$before], after [$(installed)]"
echo "== Plug-in saw:"; [ -f "$app/PLUGIN.LOG" ] && tr -d '\r' <"$app/PLUGIN.LOG" | sed 's/^/  /'
echo "== Post program started:"; [ -f "$app/recorder.txt" ] && tr -d '\r' <"$app/recorder.txt" | sed 's/^/  /'
lnk=$(ls "$build"/wineprefix/drive_c/users/*/Desktop/*.lnk "$build"/wineprefix/drive_c/users/Public/Desktop/*.lnk 2>/dev/null | head -1 || true)
echo "== Shortcut: ${lnk:-none}"

log=$(ls "$build"/wineprefix/drive_c/users/*/Temp/Lumiupd.log 2>/dev/null | head -1 || true)
echo "== Trace log: $log"
[ -n "$log" ] && cp "$log" "$demo/Lumiupd.log" && iconv -f CP932 -t UTF-8 "$log" | tr -d '\r' | sed -n '1,40s/^/  /p'
echo "  ... (whole log: $demo/Lumiupd.log)"

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
