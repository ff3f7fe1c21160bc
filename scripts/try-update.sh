#!/usr/bin/env bash
# Tries an update folder on the build machine, in the build's Wine prefix
# (run inside scripts/with-wine-env.sh): a registered installed copy with the
# given data version, the updater run from a copy of the folder with the
# dialog robot answering, then a report in UTF-8 whose last line is the
# updater's exit code. The registration, and the files the run added outside
# the installed copy, are removed again; the exit code is the updater's (125
# when it has none: the robot stopped or killed the run, or the updater did
# not start).
# Run directly (not inside scripts/with-wine-env.sh), it first builds what it
# needs (make try-update-tools) and starts that environment itself: the
# command for pipelines that want the updater's exit code, which make turns
# into 2.
# Usage: scripts/try-update.sh BUILD_DIR FOLDER [VERSION] [ARGS] [ANSWERS]
#   VERSION  the installed copy's data version (RT_IDX.DAT), default 1.1
#   ARGS     the updater's command line as typed at a Windows prompt, e.g.
#            -auto "C:\Program Files\LumiTry\App": a path holding a blank
#            is quoted, as it would be there
#   ANSWERS  the robot's answers to the boxes, in order, e.g. "yes ok"
# Environment: TRY_APP (the copy's folder under Program Files, default
# LumiTry\App), TRY_SEED (a folder whose files the installed copy gets as
# well), TRY_RUNNING_MS (the stand-in application runs that long while the
# updater starts), TRY_SHOTS (a folder for screenshots), TRY_REPORT (a folder
# for the report's files, default BUILD_DIR/try-update), TRY_SMALL_DRIVE (a
# size such as 2m: the installed copy goes on a drive T: of that size, a
# tmpfs; root only), TRY_WHATIF (1: a dry run, -whatif, whose own report is
# printed at the end), TRY_RESULT (a path: the run's result file, -result=,
# is copied there and shown), TRY_TIMEOUT (seconds the robot gives the run;
# default 60 and one more per command of the script). Relative paths are
# taken from CALLER_DIR (the folder make was called from) when it is set.
# The folder and TRY_SEED are copied with their files' times, so that a file
# the installed copy already has is the same file to the updater. TRY_AGAIN=1
# runs against the installed copy as the previous try left it (the update
# run a second time), instead of a new one.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/caller-path.sh
. "$here/scripts/caller-path.sh"
mkdir -p "$1"
build=$(cd "$1" && pwd)
folder=$(cd "$(from_caller "$2")" && pwd)
for knob in TRY_SEED TRY_SHOTS TRY_REPORT TRY_RESULT; do
  [ -z "${!knob:-}" ] || export "$knob=$(from_caller "${!knob}")"
done
if [ "${WINEPREFIX:-}" != "$build/wineprefix" ] || [ -z "${DISPLAY:-}" ]; then
  make -s -C "$here" BUILD="$build" try-update-tools >&2 || { echo "try-update: building the tools failed" >&2; exit 125; }
  exec "$here/scripts/with-wine-env.sh" "$build" "$here/scripts/try-update.sh" "$build" "$folder" "${@:3}"
fi
version=${3:-1.1}
args=${4:-}
answers=${5:-yes ok}
run="$build/wine-run.sh"
bin="$build/bin"
appName=${TRY_APP:-LumiTry\\App}
appUnix="$build/wineprefix/drive_c/Program Files/${appName//\\//}"
appWin="C:\\Program Files\\$appName"
updUnix="$build/wineprefix/drive_c/LumiTry/Update"
drive="$build/wineprefix/drive_c"
report=${TRY_REPORT:-$build/try-update}
whatifUnix="$build/wineprefix/drive_c/LumiTry/whatif.txt"
resultUnix="$build/wineprefix/drive_c/LumiTry/result.json"
[ "${TRY_WHATIF:-}" = 1 ] && args="-whatif=C:\\LumiTry\\whatif.txt $args"
[ -z "${TRY_RESULT:-}" ] || args="-result=C:\\LumiTry\\result.json $args"
key='HKLM\Software\Kevrani\ルミテル ミルテ版'

# The script decides the updater's name: NAME.INF is read by NAME.exe.
scripts=("$folder"/*.INF "$folder"/*.inf)
script=""
for s in "${scripts[@]}"; do [ -e "$s" ] && { [ -z "$script" ] || { echo "try-update: more than one script in $folder" >&2; exit 2; }; script=$s; }; done
[ -n "$script" ] || { echo "try-update: no .INF script in $folder" >&2; exit 2; }
exe="$(basename "${script%.*}").exe"
# Each command costs its pause of 200 ms and its work: the robot's time grows
# with the commands, in the one installed copy set up here.
commands=$(grep -ciE '^(copy|remove|dll|exe|shortcut|log|create)=' "$script" || true)
timeout=${TRY_TIMEOUT:-$((60 + commands))}

# A small drive: the space check reads the drive of the installed copy, and a
# folder in C: is no drive of its own.
small_drive() {
  [ "$(id -u)" = 0 ] ||
    { echo "try-update: TRY_SMALL_DRIVE mounts a small drive (a tmpfs), which needs root; run as root or leave it out" >&2; exit 2; }
  "$here/tests/checks/smalldisk.sh" mount "$build" t "$TRY_SMALL_DRIVE" >&2
  mountpoint -q "$build/smalldisk-t" ||
    { echo "try-update: the small drive could not be mounted" >&2; exit 2; }
  appUnix="$build/smalldisk-t/${appName//\\//}"
  appWin="T:\\$appName"
}
[ -z "${TRY_SMALL_DRIVE:-}" ] || small_drive

again=0
[ "${TRY_AGAIN:-}" = 1 ] && [ -z "${TRY_SMALL_DRIVE:-}" ] && [ -f "$appUnix/RT_IDX.DAT" ] && again=1
[ $again = 1 ] || rm -rf "$appUnix"
rm -rf "$updUnix" "$whatifUnix" "$resultUnix"
mkdir -p "$appUnix" "$updUnix" "$report"
rm -f "$report"/files-before.txt "$report"/files-after.txt "$report"/dialogs.txt "$report"/Lumiupd.log
rm -f "$report"/drive-before.txt "$report"/drive-after.txt "$report"/dialogs.raw "$report"/whatif.txt
rm -f "$report"/hashes-before.txt "$report"/hashes-after.txt
# The report shows this run's trace or none: never an earlier run's.
rm -f "$build"/wineprefix/drive_c/users/*/Temp/Lumiupd.log
cp -r --preserve=timestamps "$folder"/. "$updUnix/"
[ -e "$updUnix/$exe" ] || cp "$bin/Lumiupd.exe" "$updUnix/$exe"

# Shift-JIS text in UTF-8, whatever bytes it holds: a byte that is no code
# page 932 character is shown as \xNN, and the conversion never stops.
# (Python's table gives 0x80, 0xA0 and 0xFD-0xFF characters of their own;
# Windows has none for them.)
to_utf8() {
  python3 -c 'import sys
text = sys.stdin.buffer.read().decode("cp932", "backslashreplace")
for char, byte in (("\x80", "80"), ("\uf8f0", "a0"), ("\uf8f1", "fd"), ("\uf8f2", "fe"), ("\uf8f3", "ff")):
    text = text.replace(char, "\\x" + byte)
sys.stdout.write(text.replace("\r", ""))'
}
# Every file and folder of drive C outside the installed copy, the update
# folder, the system and the temporary folders and the result file (shown on
# its own): where else the run writes (an install folder, a shortcut) shows
# in the difference.
drive_listing() {
  ( cd "$drive" && find . \( -path ./windows -o -path ./LumiTry/Update -o -path './users/*/Temp' \
      -o -path ./LumiTry/result.json \
      -o -path "./${appUnix#"$drive"/}" \) -prune -o -printf '%y\t%P\t%s %TY-%Tm-%Td %TH:%TM\n' | grep -v '^d		' | sort )
}
# The difference of the two listings, one section per folder that changed.
drive_changes() {
  python3 - "$report/drive-before.txt" "$report/drive-after.txt" <<'PY'
import sys, collections
def read(path):
    entries = {}
    for line in open(path, encoding="utf-8", errors="surrogateescape"):
        kind, name, stamp = line.rstrip("\n").split("\t")
        entries[name] = (kind, stamp)
    return entries
before, after = read(sys.argv[1]), read(sys.argv[2])
folders = collections.defaultdict(list)
for name in sorted(set(before) | set(after)):
    if before.get(name) == after.get(name) or (before.get(name) or after.get(name))[0] == "d":
        continue
    folder, _, leaf = name.rpartition("/")
    if name in before:
        folders[folder].append("  before: %s %s" % (leaf, before[name][1]))
    if name in after:
        folders[folder].append("  after:  %s %s" % (leaf, after[name][1]))
for folder, lines in sorted(folders.items()):
    print("== Files changed in C:\\%s:" % folder.replace("/", "\\"))
    print("\n".join(lines))
PY
}
# The history of the other folders the run wrote into (an install folder).
other_histories() {
  comm -13 <(sort "$report/drive-before.txt") <(sort "$report/drive-after.txt") | cut -f2 | grep -i '\(^\|/\)update\.log$' |
    while IFS= read -r name; do
      echo "  in C:\\${name//\//\\}:"
      to_utf8 <"$drive/$name" | sed 's/^/    /'
    done || true
}
# What the run added outside the installed copy goes again, so that the next
# try starts from the same drive.
drive_cleanup() {
  [ -f "$report/drive-before.txt" ] && [ -f "$report/drive-after.txt" ] || return 0
  comm -13 <(cut -f2 "$report/drive-before.txt" | sort) <(cut -f2 "$report/drive-after.txt" | sort) | sort -r |
    while IFS= read -r name; do
      if [ -d "$drive/$name" ]; then rmdir "$drive/$name" 2>/dev/null || true; else rm -f "$drive/$name"; fi
    done
}

# The installed copy: what the updater relies on of one.
new_copy() {
  python3 - "$appUnix" "$version" <<'PY'
import sys, os
app, version = sys.argv[1], sys.argv[2].encode()
data = bytearray(128); data[0:4] = b"RTIX"; data[72:72 + min(8, len(version))] = version[:8]
open(os.path.join(app, "RT_IDX.DAT"), "wb").write(bytes(data))
open(os.path.join(app, "MIRO42.INI"), "wb").write(b"[MAIN]\r\nINSTALLED=U0100\r\nLANG=ja\r\n[VIEW]\r\nZOOM=100\r\n")
PY
  cp "$bin/MIRO42_fixture.dll" "$appUnix/MIRO42.DLL"
  touch -d '2024-01-01 00:00' "$appUnix"/*
  [ -z "${TRY_SEED:-}" ] || cp -r --preserve=timestamps "$TRY_SEED"/. "$appUnix/"
}
[ $again = 1 ] || new_copy
[ -z "${TRY_RUNNING_MS:-}" ] || cp "$bin/LumitelApp.exe" "$appUnix/Lumitel.exe"
"$run" reg delete "$key" /f >/dev/null 2>&1 || true
"$run" reg add "$key\\Try" /v Path /t REG_SZ /d "$appWin" /f >/dev/null

listing() { ( cd "$appUnix" && find . -type f -printf '%P %s %TY-%Tm-%Td %TH:%TM\n' | sort ); }
installed() { sed -n 's/^INSTALLED=//p' "$appUnix/MIRO42.INI" | tr -d '\r'; }
before=$(installed)
# Every file of the installed copy by its SHA-256, for make try-matrix.
hashes() { ( cd "$appUnix" && find . -type f -printf '%P\0' | LC_ALL=C sort -z | xargs -0 -r sha256sum ); }
listing >"$report/files-before.txt"
hashes >"$report/hashes-before.txt"
drive_listing >"$report/drive-before.txt"

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
  drive_cleanup
  [ -z "${TRY_SMALL_DRIVE:-}" ] || { rm -rf "$appUnix"; "$here/tests/checks/smalldisk.sh" umount "$build" t >/dev/null; }
  "$run" reg delete "$key" /f >/dev/null 2>&1 || true
  # The vendor key goes too when this copy was all it held.
  "$run" reg query 'HKLM\Software\Kevrani' 2>/dev/null | grep -qi 'Kevrani\\.' ||
    "$run" reg delete 'HKLM\Software\Kevrani' /f >/dev/null 2>&1 || true
}
trap cleanup EXIT

# Strict: an answer that does not fit the box shown stops the run.
robot=(--strict --timeout "$timeout" --command-line "$args")
for a in $answers; do robot+=(--answer "$a"); done
if [ -n "${TRY_SHOTS:-}" ]; then
  mkdir -p "$TRY_SHOTS"
  robot+=(--shots "$(winepath -w "$(cd "$TRY_SHOTS" && pwd)" 2>/dev/null)")
fi
# The robot's output goes to a file: a pipe would be held open by Wine's
# background processes.
"$run" "$bin/LumiupdRobot.exe" "${robot[@]}" -- "C:\\LumiTry\\Update\\$exe" >"$report/dialogs.raw" 2>&1 || true
to_utf8 <"$report/dialogs.raw" >"$report/dialogs.txt"
code=$(sed -n 's/^exit code: \(-\?[0-9]*\).*/\1/p' "$report/dialogs.txt" | tail -1)
stopped=$(sed -n 's/^stopped by the robot: //p' "$report/dialogs.txt")
! grep -q '^exit code: .*(timed out, killed)$' "$report/dialogs.txt" ||
  stopped="the updater did not end within the robot's time-out ($timeout s; TRY_TIMEOUT=SECONDS gives more) and was killed"
# The robot's own code for a program the system would not start.
[ "$code" != -1000 ] || stopped="the updater did not start: the system could not run C:\\LumiTry\\Update\\$exe"
[ -z "$stopped" ] || code=""
sleep 1

echo "== $exe $args, installed copy $appWin (data version $version), robot's time-out $timeout s"
echo "== Exit code: ${code:-none}"
echo "== Boxes shown:"
grep -v '^exit code:\|^stopped by the robot:' "$report/dialogs.txt" | sed 's/^/  /' || echo "  none"
[ -z "$stopped" ] || echo "== Stopped by the robot: $stopped"
echo "== Files changed in $appWin:"
listing >"$report/files-after.txt"
hashes >"$report/hashes-after.txt"
changes=$(diff "$report/files-before.txt" "$report/files-after.txt" | sed -n 's/^</  before:/p; s/^>/  after: /p' || true)
printf '%s\n' "${changes:-  (none)}"
drive_listing >"$report/drive-after.txt"
drive_changes || true
echo "== History line (update.log):"
[ ! -f "$appUnix/update.log" ] || to_utf8 <"$appUnix/update.log" | sed 's/^/  /'
other_histories
echo "== INSTALLED in MIRO42.INI: before [$before], after [$(installed)]"
log=$(ls "$build"/wineprefix/drive_c/users/*/Temp/Lumiupd.log 2>/dev/null | head -1 || true)
echo "== Trace log ($log):"
if [ -n "$log" ]; then
  cp "$log" "$report/Lumiupd.log"
  to_utf8 <"$log" | sed 's/^/  /'
else
  echo "  none: the updater wrote no trace in this run"
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
if [ -n "${TRY_RESULT:-}" ]; then
  # Like the updater's own: no file means the run did not reach its end.
  rm -f "$TRY_RESULT"
  echo "== Result file ($TRY_RESULT):"
  if [ -f "$resultUnix" ]; then
    mkdir -p "$(dirname "$TRY_RESULT")"
    cp "$resultUnix" "$TRY_RESULT"
    sed 's/^/  /' "$resultUnix"
  else
    echo "  none: the run did not reach its end"
  fi
fi
echo "== Exit code: ${code:-none}"
[ -n "$code" ] || exit 125
exit $((code & 255))
