#!/usr/bin/env bash
# Tries an update folder on the build machine, in the build's Wine prefix
# (run inside scripts/with-wine-env.sh): a registered installed copy with the
# given data version, the updater run from a copy of the folder with the
# dialog robot answering, then a report in UTF-8. The registration is removed
# again; the exit code is the updater's.
# Usage: scripts/try-update.sh BUILD_DIR FOLDER [VERSION] [ARGS] [ANSWERS]
#   VERSION  the installed copy's data version (RT_IDX.DAT), default 1.1
#   ARGS     the updater's command line, e.g. "-auto"
#   ANSWERS  the robot's answers to the boxes, in order, e.g. "yes ok"
# Environment: TRY_APP (the copy's folder under Program Files, default
# LumiTry\App), TRY_SEED (a folder whose files the installed copy gets as
# well), TRY_RUNNING_MS (the stand-in application runs that long while the
# updater starts), TRY_SHOTS (a folder for screenshots), TRY_REPORT (a folder
# for the report's files, default BUILD_DIR/try-update), TRY_WHATIF (1: a dry
# run, -whatif, whose own report is printed at the end).
set -euo pipefail
build=$(cd "$1" && pwd)
folder=$(cd "$2" && pwd)
version=${3:-1.1}
args=${4:-}
answers=${5:-yes ok}
run="$build/wine-run.sh"
bin="$build/bin"
appName=${TRY_APP:-LumiTry\\App}
appUnix="$build/wineprefix/drive_c/Program Files/${appName//\\//}"
appWin="C:\\Program Files\\$appName"
updUnix="$build/wineprefix/drive_c/LumiTry/Update"
report=${TRY_REPORT:-$build/try-update}
whatifUnix="$build/wineprefix/drive_c/LumiTry/whatif.txt"
[ "${TRY_WHATIF:-}" = 1 ] && args="-whatif=C:\\LumiTry\\whatif.txt $args"
key='HKLM\Software\Kevrani\ルミテル ミルテ版'

# The script decides the updater's name: NAME.INF is read by NAME.exe.
scripts=("$folder"/*.INF "$folder"/*.inf)
script=""
for s in "${scripts[@]}"; do [ -e "$s" ] && { [ -z "$script" ] || { echo "try-update: more than one script in $folder" >&2; exit 2; }; script=$s; }; done
[ -n "$script" ] || { echo "try-update: no .INF script in $folder" >&2; exit 2; }
exe="$(basename "${script%.*}").exe"

rm -rf "$appUnix" "$updUnix" "$whatifUnix"
mkdir -p "$appUnix" "$updUnix" "$report"
rm -f "$report"/files-before.txt "$report"/files-after.txt "$report"/dialogs.txt "$report"/Lumiupd.log
cp -r "$folder"/. "$updUnix/"
[ -e "$updUnix/$exe" ] || cp "$bin/Lumiupd.exe" "$updUnix/$exe"

# The installed copy: what the updater relies on of one.
python3 - "$appUnix" "$version" <<'PY'
import sys, os
app, version = sys.argv[1], sys.argv[2].encode()
data = bytearray(128); data[0:4] = b"RTIX"; data[72:72 + min(8, len(version))] = version[:8]
open(os.path.join(app, "RT_IDX.DAT"), "wb").write(bytes(data))
open(os.path.join(app, "MIRO42.INI"), "wb").write(b"[MAIN]\r\nINSTALLED=U0100\r\nLANG=ja\r\n[VIEW]\r\nZOOM=100\r\n")
PY
cp "$bin/MIRO42_fixture.dll" "$appUnix/MIRO42.DLL"
[ -n "${TRY_SEED:-}" ] && cp -r "$TRY_SEED"/. "$appUnix/"
[ -n "${TRY_RUNNING_MS:-}" ] && cp "$bin/LumitelApp.exe" "$appUnix/Lumitel.exe"
touch -d '2024-01-01 00:00' "$appUnix"/*
"$run" reg delete "$key" /f >/dev/null 2>&1 || true
"$run" reg add "$key\\Try" /v Path /t REG_SZ /d "$appWin" /f >/dev/null

listing() { ( cd "$appUnix" && find . -type f -printf '%P %s %TY-%Tm-%Td %TH:%TM\n' | sort ); }
installed() { sed -n 's/^INSTALLED=//p' "$appUnix/MIRO42.INI" | tr -d '\r'; }
before=$(installed)
listing >"$report/files-before.txt"

# A stand-in desktop shell (a post program borrows its token), and, when
# asked, the running application.
pids=()
"$run" "$bin/shellwindow.exe" &
pids+=($!)
if [ -n "${TRY_RUNNING_MS:-}" ]; then
  "$run" "$appWin\\Lumitel.exe" "$TRY_RUNNING_MS" &
  pids+=($!)
fi
sleep 1
cleanup() {
  kill "${pids[@]}" 2>/dev/null || true
  "$run" reg delete "$key" /f >/dev/null 2>&1 || true
  # The vendor key goes too when this copy was all it held.
  "$run" reg query 'HKLM\Software\Kevrani' 2>/dev/null | grep -qi 'Kevrani\\.' ||
    "$run" reg delete 'HKLM\Software\Kevrani' /f >/dev/null 2>&1 || true
}
trap cleanup EXIT

robot=()
for a in $answers; do robot+=(--answer "$a"); done
[ -n "${TRY_SHOTS:-}" ] && robot+=(--shots "$(winepath -w "$TRY_SHOTS" 2>/dev/null)")
# shellcheck disable=SC2086
"$run" "$bin/LumiupdRobot.exe" "${robot[@]}" -- "C:\\LumiTry\\Update\\$exe" $args |
  iconv -f CP932 -t UTF-8 | tr -d '\r' >"$report/dialogs.txt"
code=$(sed -n 's/^exit code: \(-\?[0-9]*\).*/\1/p' "$report/dialogs.txt" | tail -1)
sleep 1

echo "== $exe $args, installed copy $appWin (data version $version)"
echo "== Exit code: ${code:-none}"
echo "== Boxes shown:"
grep -v '^exit code:' "$report/dialogs.txt" | sed 's/^/  /' || echo "  none"
echo "== Files changed in $appWin:"
listing >"$report/files-after.txt"
diff "$report/files-before.txt" "$report/files-after.txt" | sed -n 's/^</  before:/p; s/^>/  after: /p' || true
echo "== History line (update.log):"
[ -f "$appUnix/update.log" ] && iconv -f CP932 -t UTF-8 "$appUnix/update.log" | tr -d '\r' | sed 's/^/  /'
echo "== INSTALLED in MIRO42.INI: before [$before], after [$(installed)]"
log=$(ls "$build"/wineprefix/drive_c/users/*/Temp/Lumiupd.log 2>/dev/null | head -1 || true)
echo "== Trace log ($log):"
if [ -n "$log" ]; then
  cp "$log" "$report/Lumiupd.log"
  iconv -f CP932 -t UTF-8 "$log" | tr -d '\r' | sed 's/^/  /'
fi
if [ "${TRY_WHATIF:-}" = 1 ]; then
  echo "== Dry run report ($whatifUnix):"
  if [ -f "$whatifUnix" ]; then
    cp "$whatifUnix" "$report/whatif.txt"
    sed '1s/^\xEF\xBB\xBF//' "$whatifUnix" | tr -d '\r' | sed 's/^/  /'
  else
    echo "  none"
  fi
fi
[ -n "$code" ] || exit 125
exit $((code & 255))
