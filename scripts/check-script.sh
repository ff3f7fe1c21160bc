#!/usr/bin/env bash
# Runs the script checker of BUILD_DIR under Wine on a script and, optionally,
# an update folder. Linux paths are handed over as Windows paths; a path that
# already names a drive (C:\..., Z:\...) is passed as it is. The checker
# writes CP932; the output is shown in UTF-8 unless RAW=1.
# Usage (inside scripts/with-wine-env.sh): scripts/check-script.sh BUILD_DIR SCRIPT [FOLDER]
set -u
build=$1 script=$2 folder=${3:-}

windows_path() {
  case "$1" in
    [A-Za-z]:\\*|[A-Za-z]:/*) printf '%s' "$1" ;;
    *) [ -e "$1" ] || { echo "check-script: no such file or folder: $1" >&2; exit 2; }
       winepath -w "$(realpath "$1")" 2>/dev/null ;;
  esac
}

args=("$(windows_path "$script")")
[ -n "$folder" ] && args+=("$(windows_path "$folder")")
if [ "${RAW:-0}" = 1 ]; then
  "$build/wine-run.sh" "$build/bin/LumiupdCheck.exe" "${args[@]}"
  exit $?
fi
"$build/wine-run.sh" "$build/bin/LumiupdCheck.exe" "${args[@]}" | iconv -c -f CP932 -t UTF-8
exit "${PIPESTATUS[0]}"
