#!/usr/bin/env bash
# make package SCRIPT=path/NAME.INF FROM=staging-folder OUT=folder
# Builds an update folder ready to ship: the release updater as NAME.exe, the
# script, and exactly the files its commands take from the update folder,
# taken from FROM with their relative paths, and SHA256SUMS of them all.
# Refuses (exit 1, nothing at OUT) when the checker finds an error, a file
# the commands name is missing from FROM, or OUT already exists. The folder
# is put together beside OUT and renamed into place when it is complete.
# Usage: scripts/package.sh BUILD_DIR SCRIPT FROM OUT   (UPDATER=path overrides build/release/Lumiupd.exe)
set -euo pipefail
build=$(cd "$1" && pwd) script=$2 from=$3 out=$4
updater=${UPDATER:-$build/release/Lumiupd.exe}
checker=$build/bin/lumiupd-check
[ -x "$checker" ] || checker=$build/release/lumiupd-check

refuse() { echo "package: $*; nothing was written at $out" >&2; exit 1; }

[ -f "$script" ] || refuse "no such script: $script"
[ -d "$from" ] || refuse "no such folder: $from"
[ -f "$updater" ] || refuse "no release updater at $updater (make release)"
[ ! -e "$out" ] || [ -z "$(ls -A "$out" 2>/dev/null)" ] || refuse "$out already exists"
name=$(basename "$script"); name=${name%.*}
from=$(cd "$from" && pwd)

# The checker on the script and FROM: its errors refuse the package, and its
# folder findings tell which files of FROM no command takes.
set +e
report=$("$checker" "$script" "$from")
code=$?
set -e
findings=$(printf '%s\n' "$report" | sed -n '/^SUMMARY$/,/^RESULT: /!p')
[ $code -eq 0 ] || { printf '%s\n' "$findings" >&2; refuse "the checker refuses $script (exit $code)"; }
missing=$(printf '%s\n' "$findings" | grep -E ': warning: (file|plug-in|program) ".*" is (missing from the update folder|a folder in the update folder, not a file)$' || true)
[ -z "$missing" ] || { printf '%s\n' "$missing" >&2; refuse "files the commands take are not files in $from"; }
unused_suffix=': warning: no command uses this file; it still counts in the disk-space check'
declare -A unused=()
while IFS= read -r line; do
  case "$line" in "$from/"*"$unused_suffix") rel=${line#"$from/"}; unused["${rel%"$unused_suffix"}"]=1 ;; esac
done <<<"$findings"
while IFS= read -r line; do
  case "$line" in "$from/"*": note: "*) rel=${line#"$from/"}; unused["${rel%%: note: *}"]=1 ;; esac
done <<<"$findings"

mkdir -p "$(dirname "$out")"
tmp=$(mktemp -d "$(dirname "$out")/.$(basename "$out").package.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
cp -p "$updater" "$tmp/$name.exe"
cp -p "$script" "$tmp/$name.INF"
taken=()
while IFS= read -r -d '' file; do
  rel=${file#"$from/"}
  if [ -n "${unused[$rel]+x}" ]; then
    case "$rel" in
      "$name.INF"|"$name.exe") ;;   # the script and the updater come from the release, not FROM
      *) echo "package: warning: no command names $from/$rel; left out" >&2 ;;
    esac
    continue
  fi
  iconv -f UTF-8 -t CP932 <<<"$rel" >/dev/null 2>&1 || { echo "package: warning: $from/$rel has no code page 932 name; left out" >&2; continue; }
  mkdir -p "$tmp/$(dirname "$rel")"
  cp -p "$file" "$tmp/$rel"
  taken+=("$rel")
done < <(find "$from" -type f -print0 | LC_ALL=C sort -z)

(cd "$tmp" && find . -type f ! -name SHA256SUMS -printf '%P\0' | LC_ALL=C sort -z | xargs -0 sha256sum >SHA256SUMS)
[ ! -d "$out" ] || rmdir "$out"
mv "$tmp" "$out"
trap - EXIT
echo "package: $out"
for rel in "$name.exe" "$name.INF" "${taken[@]}" SHA256SUMS; do
  printf '  %-40s %10s bytes\n' "$rel" "$(stat -c %s "$out/$rel")"
done
