#!/usr/bin/env bash
# Installs what building and testing need; quiet and quick when all is there.
# Usage: scripts/bootstrap.sh [BUILD_DIR] [packages]
# The Wine prefix lives under BUILD_DIR; "packages" leaves it out, for the
# commands that run no Windows program (the native checker, packaging).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}

pkgs="g++-mingw-w64-i686-posix clang libclang-rt-14-dev wine wine32:i386 xvfb locales fonts-ipafont-gothic imagemagick liblnk-utils python3-pefile ninja-build cmake googletest x11-utils osslsigncode openssl libssl-dev fuse3 python3-pyfuse3"
sudo_cmd=""
[ "$(id -u)" = 0 ] || sudo_cmd="sudo"

missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "bootstrap: installing$missing"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo_cmd dpkg --add-architecture i386
  fi
  $sudo_cmd apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "bootstrap: generating ja_JP.UTF-8"
  $sudo_cmd sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo_cmd tee -a /etc/locale.gen >/dev/null
  $sudo_cmd locale-gen >/dev/null
fi

[ "${2:-}" = packages ] || "$here/scripts/wine-prefix.sh" "$build"
