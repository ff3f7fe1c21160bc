#!/usr/bin/env bash
# make try-matrix: an update folder tried against installed copies of each
# data version a customer may have, and under the conditions customers meet,
# with one table at the end: the condition, the exit code, whether the
# installed copy holds the whole old files, the whole new ones or a mix of
# both (each file the script's copy and remove commands name, by its SHA-256
# against the copy before the run and the update folder's file), and whether
# the script's id was registered. Each row is one scripts/try-update.sh run,
# its report in MATRIX_REPORT/N (default BUILD_DIR/try-matrix/N).
# Runs inside scripts/with-wine-env.sh (make try-matrix starts it).
# Usage: scripts/try-matrix.sh BUILD_DIR FOLDER "VERSIONS"
# Environment: ARGS (the updater's command line, default -unattended, as a
# deployment runs it), ANSWERS (default none), CONDITIONS (default "running
# small twice": the application left running, a drive too small, the update
# run twice; each on the first version the update succeeds on), TRY_APP,
# TRY_SEED as for try-update. Relative paths are taken from CALLER_DIR when
# it is set. Ends with 0 when every row ran, 2 on wrong use.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/caller-path.sh
. "$here/scripts/caller-path.sh"
build=$(cd "$1" && pwd)
folder=$(cd "$(from_caller "$2")" && pwd) || { echo "try-matrix: no such folder: $2" >&2; exit 2; }
read -r -a versions <<<"${3:-}"
[ ${#versions[@]} -gt 0 ] || { echo "try-matrix: no VERSIONS given (VERSIONS=\"2.2 2.3 2.4\")" >&2; exit 2; }
[ -z "${TRY_SEED:-}" ] || export TRY_SEED="$(from_caller "$TRY_SEED")"
args=${ARGS--unattended}
answers=${ANSWERS:-}
conditions=${CONDITIONS-running small twice}
out=${MATRIX_REPORT:-$build/try-matrix}
rm -rf "$out"
mkdir -p "$out"
scripts=("$folder"/*.INF "$folder"/*.inf)
script=""
for s in "${scripts[@]}"; do [ -e "$s" ] && script=$s; done
[ -n "$script" ] || { echo "try-matrix: no .INF script in $folder" >&2; exit 2; }

# One try: its report's folder, its exit code (or none), its condition.
rows=()
row=0
try() {  # try CONDITION VERSION [VAR=VALUE...]
  local condition=$1 version=$2
  shift 2
  row=$((row + 1))
  env "$@" TRY_REPORT="$out/$row" "$here/scripts/try-update.sh" "$build" "$folder" "$version" "$args" "$answers" \
    >"$out/$row.txt" 2>&1 || true
  rows+=("$row|$condition")
  last_code=$(sed -n 's/^== Exit code: //p' "$out/$row.txt" | tail -1)
}

# Modules the script copies: the application gets up to 15 s for each.
modules=$(grep -ciE '^copy=.*\.(dll|exe)[[:space:]]*$' "$script" || true)
# The update run twice: again at once on the copy the first version it
# succeeds on was left as, which that row's run already was the first of.
twice() {
  local first=$row
  try "$1, run twice" "$1" TRY_AGAIN=1
  cp "$out/$first/hashes-before.txt" "$out/$row/hashes-before.txt"
}
first_ok=""
for version in "${versions[@]}"; do
  try "$version" "$version"
  [ -n "$first_ok" ] || [ "$last_code" != 0 ] || { first_ok=$version; [[ " $conditions " != *" twice "* ]] || twice "$version"; }
done
target=${first_ok:-${versions[0]}}
for condition in $conditions; do
  case "$condition" in
    running)
      try "$target, application running" "$target" TRY_RUNNING_MS=$((15000 * modules + 30000)) \
        TRY_TIMEOUT=$((60 + 15 * modules + $(grep -ciE '^(copy|remove|dll|exe|shortcut|log|create)=' "$script" || true))) ;;
    small)
      if [ "$(id -u)" != 0 ]; then rows+=("-|$target, small drive (needs root: left out)"); continue; fi
      # Room for the installed copy and half of the update folder, which the
      # space check counts whole.
      seed=0
      [ -z "${TRY_SEED:-}" ] || seed=$(du -sk "$TRY_SEED" | cut -f1)
      size=$(( $(du -sk "$build/bin/MIRO42_fixture.dll" | cut -f1) + 16 + seed + $(du -sk "$folder" | cut -f1) / 2 ))
      try "$target, small drive (${size}k)" "$target" TRY_SMALL_DRIVE=${size}k ;;
    twice)
      # Done right after the first run that succeeded; with none, on the
      # first version.
      [ -n "$first_ok" ] || { try "$target" "$target"; twice "$target"; } ;;
    *) echo "try-matrix: no such condition: $condition (running, small, twice)" >&2; exit 2 ;;
  esac
done

python3 - "$script" "$folder" "$out" "${rows[@]}" <<'PY'
import hashlib, os, re, sys
script, folder, out, rows = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
text = open(script, "rb").read().decode("cp932", "replace")
ident, targets = None, {}
for line in text.replace("\r", "").split("\n"):
    key, eq, value = line.partition("=")
    key = key.lower()
    if not eq or "=" in value:
        continue
    if key == "id":
        ident = value
    elif key in ("copy", "remove") and "%" not in value:
        rel = value.replace("\\", "/").lower()
        if key == "remove":
            targets[rel] = "absent"
            continue
        path = os.path.join(folder, value.replace("\\", "/"))
        targets[rel] = hashlib.sha256(open(path, "rb").read()).hexdigest() if os.path.isfile(path) else None

def hashes(path):
    try:
        return {name.lower(): digest for digest, name in
                (line.rstrip("\n").split("  ", 1) for line in open(path, encoding="utf-8", errors="surrogateescape"))}
    except OSError:
        return None

def state(report):
    before, after = hashes(os.path.join(report, "hashes-before.txt")), hashes(os.path.join(report, "hashes-after.txt"))
    if before is None or after is None:
        return "?"
    old = new = other = 0
    for rel, wanted in targets.items():
        was, now = before.get(rel, "absent"), after.get(rel, "absent")
        if wanted == was:
            continue
        if now == was:
            old += 1
        elif now == wanted:
            new += 1
        else:
            other += 1
    if other or (old and new):
        return "mixed"
    return "whole new" if new else "whole old"

def registered(log):
    found = re.search(r"^== INSTALLED in MIRO42.INI: before \[.*\], after \[(.*)\]$", log, re.M)
    return "?" if not found else "yes" if ident and ident in found.group(1).split(",") else "no"

print("== try-matrix: %s (%s, id %s; %d files named by copy and remove)" %
      (folder, os.path.basename(script), ident or "none", len(targets)))
print("%-44s %-5s %-15s %s" % ("condition", "exit", "installed copy", "id registered"))
for entry in rows:
    number, _, condition = entry.partition("|")
    if number == "-":
        print("%-44s %-5s %-15s %s" % (condition, "-", "-", "-"))
        continue
    log = open(os.path.join(out, number + ".txt"), encoding="utf-8", errors="replace").read()
    codes = re.findall(r"^== Exit code: (.*)$", log, re.M)
    print("%-44s %-5s %-15s %s" % (condition, codes[-1] if codes else "none", state(os.path.join(out, number)),
                                   registered(log)))
print("== reports: %s/N.txt (the try-update report of row N) and %s/N/" % (out, out))
PY
