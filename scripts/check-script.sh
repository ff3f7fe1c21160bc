#!/usr/bin/env bash
# Checks a script (and, optionally, an update folder) with the build's native
# checker, bin/lumiupd-check, which shows its findings in UTF-8. With RAW=1
# the Windows checker runs under Wine instead (inside scripts/with-wine-env.sh)
# and its own code page 932 bytes are shown; Linux paths are then handed over
# as Windows paths, and a path that already names a drive is passed as it is.
# Usage: scripts/check-script.sh BUILD_DIR SCRIPT [FOLDER]
set -u
build=$1 script=$2 folder=${3:-}

if [ "${RAW:-0}" != 1 ]; then
  args=("$script")
  [ -n "$folder" ] && args+=("$folder")
  exec "$build/bin/lumiupd-check" "${args[@]}"
fi

windows_path() {
  case "$1" in
    [A-Za-z]:\\*|[A-Za-z]:/*) printf '%s' "$1" ;;
    *) [ -e "$1" ] || { echo "check-script: no such file or folder: $1" >&2; exit 2; }
       winepath -w "$(realpath "$1")" 2>/dev/null ;;
  esac
}

args=("$(windows_path "$script")")
[ -n "$folder" ] && args+=("$(windows_path "$folder")")
"$build/wine-run.sh" "$build/bin/LumiupdCheck.exe" "${args[@]}"
