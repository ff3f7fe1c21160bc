#!/usr/bin/env bash
# Checks a script (and, optionally, an update folder) with a native checker,
# lumiupd-check, which shows its findings in UTF-8: one already built when
# there is one, else the checker alone is built (scripts/native-checker.sh).
# With RAW=1 the Windows checker runs under Wine instead (inside scripts/with-wine-env.sh)
# and its own code page 932 bytes are shown; Linux paths are then handed over
# as Windows paths, and a path that already names a drive is passed as it is.
# Relative paths are taken from CALLER_DIR (the folder make was called from)
# when it is set; STRICT=1 makes every finding fail the check.
# Usage: scripts/check-script.sh BUILD_DIR SCRIPT [FOLDER]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/caller-path.sh
. "$here/scripts/caller-path.sh"
build=$1 script=$2 folder=${3:-}
script=$(from_caller "$script")
folder=$(from_caller "$folder")
strict=()
[ "${STRICT:-0}" = 1 ] && strict=(--strict)

if [ "${RAW:-0}" != 1 ]; then
  args=("${strict[@]}" "$script")
  [ -n "$folder" ] && args+=("$folder")
  checker=$("$here/scripts/native-checker.sh" "$build") || exit 2
  exec "$checker" "${args[@]}"
fi

windows_path() {
  case "$1" in
    [A-Za-z]:\\*|[A-Za-z]:/*) printf '%s' "$1" ;;
    *) [ -e "$1" ] || { echo "check-script: no such file or folder: $1" >&2; exit 2; }
       winepath -w "$(realpath "$1")" 2>/dev/null ;;
  esac
}

args=("${strict[@]}" "$(windows_path "$script")")
[ -n "$folder" ] && args+=("$(windows_path "$folder")")
"$build/wine-run.sh" "$build/bin/LumiupdCheck.exe" "${args[@]}"
