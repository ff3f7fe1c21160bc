#!/usr/bin/env bash
# Creates the test Wine prefix BUILD_DIR/wineprefix once (Japanese locale, no
# Mono/Gecko prompts, unmanaged windows, no crash debugger).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEARCH=win32
[ -f "$WINEPREFIX/.lumiupd-ready" ] && exit 0
echo "bootstrap: creating Wine prefix $WINEPREFIX"
rm -rf "$WINEPREFIX"
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >"$build/wineboot.log" 2>&1
reg="$build/prefix-settings.reg"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\r\n"Debugger"=""\r\n"Auto"="1"\r\n\r\n' \
  | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
wine reg import "$(winepath -w "$reg")" >>"$build/wineboot.log" 2>&1
wineserver -w
touch "$WINEPREFIX/.lumiupd-ready"
