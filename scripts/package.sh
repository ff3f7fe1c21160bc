#!/usr/bin/env bash
# make package SCRIPT=path/NAME.INF FROM=staging-folder OUT=folder
# Builds an update folder ready to ship: the release updater as NAME.exe, the
# script, and exactly the files its commands take from the update folder,
# taken from FROM with their relative paths, and SHA256SUMS of them all.
# NAME.exe holds the manifest of the folder (the SHA-256 and size of the
# script and of every other file, and the digest of NAME.exe itself) in a
# section of its own, added before it is signed: with LUMIUPD_SIGN_PFX and
# LUMIUPD_SIGN_PASSWORD it is signed by scripts/sign.sh.
# Every finding of the checker is shown first, in the compiler format.
# Refuses (exit 1, nothing at OUT) when the checker finds an error (with
# STRICT=1, a warning as well), a file the commands name is missing from
# FROM, the updater reads no manifest or holds one already, a signed updater
# is given without a certificate to sign it again, the folder does not
# verify against its manifest, or OUT already exists. The
# folder is put together beside OUT and renamed into place when complete.
# Relative paths are taken from CALLER_DIR (the folder make was called from)
# when it is set, else from the current folder.
# Usage: [STRICT=1] scripts/package.sh BUILD_DIR SCRIPT FROM OUT   (UPDATER=path overrides build/release/Lumiupd.exe)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/caller-path.sh
. "$here/scripts/caller-path.sh"
build=$(cd "$1" && pwd) script=$(from_caller "$2") from=$(from_caller "$3") out=$(from_caller "$4")
updater=$(from_caller "${UPDATER:-$build/release/Lumiupd.exe}")
strict=()
[ "${STRICT:-0}" = 1 ] && strict=(--strict)

refuse() { echo "package: $*; nothing was written at $out" >&2; exit 1; }

[ -f "$script" ] || refuse "no such script: $script"
[ -d "$from" ] || refuse "no such folder: $from"
[ -f "$updater" ] || refuse "no release updater at $updater (make release)"
[ ! -e "$out" ] || [ -z "$(ls -A "$out" 2>/dev/null)" ] || refuse "$out already exists"
name=$(basename "$script"); name=${name%.*}
from=$(cd "$from" && pwd)

checker=$("$here/scripts/native-checker.sh" "$build") || refuse "no checker could be built"

# The checker on the script and FROM, every finding shown: its errors (with
# STRICT=1 its warnings too) refuse the package, and its folder findings tell
# which files of FROM no command takes.
set +e
report=$("$checker" "${strict[@]}" "$script" "$from")
code=$?
set -e
findings=$(printf '%s\n' "$report" | sed -n '/^SUMMARY$/,/^RESULT: /!p' | grep -v '^RESULT: ' || true)
counts=$(printf '%s\n' "$report" | sed -n 's/^RESULT: .*(\([0-9]*\) errors\{0,1\}, \([0-9]*\) warnings\{0,1\})$/\1 \2/p' | tail -1)
read -r errors warnings <<<"${counts:-x x}"
[ -z "$findings" ] || printf '%s\n' "$findings" >&2
echo "package: the checker: ${errors/x/?} error(s), ${warnings/x/?} warning(s) in $script" >&2
# An error the updater itself lets through (a script saved as UTF-8) still
# ships something broken: any error refuses the package.
[ "$errors" = 0 ] || [ "$errors" = x ] ||
  refuse "the checker reports errors in $script ($errors): an update ships only without them"
[ $code -eq 0 ] || [ "$errors" != 0 ] || [ "${STRICT:-0}" != 1 ] ||
  refuse "STRICT=1 and the checker warns about $script ($warnings): an update ships only without warnings"
[ $code -eq 0 ] || refuse "the checker refuses $script (exit $code)"
missing=$(printf '%s\n' "$findings" | grep -E ': warning: (file|plug-in|program) ".*" is (missing from the update folder|a folder in the update folder, not a file)$' || true)
[ -z "$missing" ] || refuse "files the commands take are not files in $from (above)"
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
scratch=$(mktemp -d)
trap 'rm -rf "$tmp" "$scratch"' EXIT
chmod 755 "$tmp"
# A signature covers the manifest's section: a signed updater loses its
# signature here and is signed again once the manifest is in. Signing with no
# certificate at hand would ship an unsigned updater from a signed release.
if osslsigncode extract-signature -in "$updater" -out "$scratch/signature" >/dev/null 2>&1; then
  [ -n "${LUMIUPD_SIGN_PFX:-}" ] ||
    refuse "$updater is signed: give LUMIUPD_SIGN_PFX and LUMIUPD_SIGN_PASSWORD to sign $name.exe again once its manifest is written"
  osslsigncode remove-signature -in "$updater" -out "$scratch/unsigned.exe" >"$scratch/log" 2>&1 ||
    { cat "$scratch/log" >&2; refuse "the signature of $updater cannot be removed"; }
  cp "$scratch/unsigned.exe" "$tmp/$name.exe"
  touch -r "$updater" "$tmp/$name.exe"
else
  cp -p "$updater" "$tmp/$name.exe"
fi
cp -p "$script" "$tmp/$name.INF"
taken=()
while IFS= read -r -d '' file; do
  rel=${file#"$from/"}
  if [ -n "${unused[$rel]+x}" ]; then
    case "$rel" in
      "$name.INF"|"$name.exe"|SHA256SUMS) ;;   # the script, the updater and the sums come from the release, not FROM
      *) echo "package: warning: no command names $from/$rel; left out" >&2 ;;
    esac
    continue
  fi
  iconv -f UTF-8 -t CP932 <<<"$rel" >/dev/null 2>&1 || { echo "package: warning: $from/$rel has no code page 932 name; left out" >&2; continue; }
  mkdir -p "$tmp/$(dirname "$rel")"
  cp -p "$file" "$tmp/$rel"
  taken+=("$rel")
done < <(find "$from" -type f -print0 | LC_ALL=C sort -z)

"$checker" --write-manifest "$tmp" >"$scratch/manifest.log" ||
  { sed "s|$tmp|$out|g" "$scratch/manifest.log" >&2; refuse "no manifest could be written into $name.exe"; }
if [ -n "${LUMIUPD_SIGN_PFX:-}" ]; then
  "$here/scripts/sign.sh" "$tmp/$name.exe" >"$scratch/sign.log" 2>&1 ||
    { cat "$scratch/sign.log" >&2; refuse "signing $name.exe failed"; }
  signed="signed"
else
  signed="UNSIGNED"
fi
(cd "$tmp" && find . -type f ! -name SHA256SUMS -printf '%P\0' | LC_ALL=C sort -z | xargs -0 sha256sum >SHA256SUMS)
# What was written is checked as a download page or share would check it.
"$checker" --verify "$tmp" >"$scratch/verify.log" ||
  { sed "s|$tmp|$out|g" "$scratch/verify.log" >&2; refuse "the folder does not verify against the manifest in $name.exe"; }
[ ! -d "$out" ] || rmdir "$out"
mv "$tmp" "$out"
rm -rf "$scratch"
trap - EXIT
echo "package: $out ($name.exe holds its manifest, $signed)"
for rel in "$name.exe" "$name.INF" "${taken[@]}" SHA256SUMS; do
  printf '  %-40s %10s bytes\n' "$rel" "$(stat -c %s "$out/$rel")"
done
