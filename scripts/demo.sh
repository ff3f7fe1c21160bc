#!/usr/bin/env bash
# The updater's main job on a ready sample: an installed copy registered in
# the Wine registry and an update folder, run under Xvfb with the robot
# answering Yes to the confirmation and OK to the closing box.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
run="$build/wine-run.sh"
demo="$build/demo"
drive_c="$build/wineprefix/drive_c"
rm -rf "$demo" "$drive_c/LumiDemo"
mkdir -p "$demo" "$drive_c/LumiDemo/App" "$drive_c/LumiDemo/Update"

# The installed copy: data version 1.10 at offset 72 of RT_IDX.DAT.
python3 - "$drive_c/LumiDemo/App" <<'PY'
import sys, os
app = sys.argv[1]
data = bytearray(96); data[72:80] = b"1.10\0\0\0\0"
open(os.path.join(app, "RT_IDX.DAT"), "wb").write(bytes(data))
open(os.path.join(app, "MIRO42.DLL"), "wb").write(b"old library\r\n")
open(os.path.join(app, "MIRO42.INI"), "wb").write(b"[MAIN]\r\nINSTALLED=U0100\r\n")
PY
"$run" reg add 'HKLM\Software\Kevrani\ルミテル ミルテ版\Demo' /v Path /t REG_SZ /d 'C:\LumiDemo\App' /f >/dev/null

# The update: the updater, its script (CP932, CRLF) and the new files.
cp "$build/bin/Lumiupd.exe" "$drive_c/LumiDemo/Update/"
printf 'new library\r\n' >"$drive_c/LumiDemo/Update/MIRO42.DLL"
printf 'new data\r\n' >"$drive_c/LumiDemo/Update/NEWDATA.DAT"
printf '%s\r\n' '; demo update' 'id=U0200' 'kakunin=ルミテルを更新します。#よろしいですか？' \
  'target=1.1' 'copy=MIRO42.DLL' 'copy=NEWDATA.DAT' 'success=更新が終わりました。' \
  | iconv -f UTF-8 -t CP932 >"$drive_c/LumiDemo/Update/Lumiupd.INF"

echo "== Running C:\\LumiDemo\\Update\\Lumiupd.exe"
"$run" "$build/bin/LumiupdRobot.exe" --answer yes --answer ok --shots "$(winepath -w "$demo" 2>/dev/null)" \
  -- 'C:\LumiDemo\Update\Lumiupd.exe' \
  | iconv -f CP932 -t UTF-8 | tr -d '\r' | tee "$demo/dialogs.txt"

log=$(ls "$build"/wineprefix/drive_c/users/*/AppData/Local/Temp/Lumiupd.log 2>/dev/null | head -1 || true)
[ -n "$log" ] || log=$(ls "$build"/wineprefix/drive_c/users/*/Temp/Lumiupd.log 2>/dev/null | head -1 || true)
echo "== Files of the installed copy (C:\\LumiDemo\\App)"
for f in "$drive_c"/LumiDemo/App/*; do printf '  %-12s %s\n' "$(basename "$f")" "$(head -c 40 "$f" | tr -d '\r\n\0' )"; done
echo "== Trace log: $log"
[ -n "$log" ] && iconv -f CP932 -t UTF-8 "$log" | tr -d '\r' | sed 's/^/  /'

shots=""
for bmp in "$demo"/*.bmp; do
  [ -e "$bmp" ] || continue
  png="${bmp%.bmp}.png"
  convert "$bmp" "$png" && rm -f "$bmp" && shots="$shots $(basename "$png")"
done
echo "== Screenshots in $demo:${shots:- none}"
