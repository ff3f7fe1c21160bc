#!/usr/bin/env bash
# Prints the path of a native checker (lumiupd-check) for check-script and
# package, building no more than the checker itself: no Wine, no
# cross-compiler, no tests.
#   - a build tree that has the checker's own tree (BUILD_DIR/native): that
#     checker, brought up to date (its sources may have changed);
#   - else the release's (BUILD_DIR/release/lumiupd-check) when no source is
#     newer than it: what make release has just built;
#   - else the checker alone, configured and built in BUILD_DIR/native with
#     the arguments the main build gives it, so that the main build later
#     takes that tree over as it is.
# What the build prints goes to BUILD_DIR/native-checker.log, shown on failure.
# Usage: scripts/native-checker.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
log=$build/native-checker.log
release=$build/release/lumiupd-check

if [ ! -f "$build/native/build.ninja" ] && [ -x "$release" ] &&
   [ -z "$(find "$here/src" "$here/tools" -newer "$release" -print -quit)" ]; then
  printf '%s\n' "$release"
  exit 0
fi
if [ ! -f "$build/native/build.ninja" ]; then
  cmake -S "$here/tools/lumiupdcheck/native" -B "$build/native" -G Ninja -DCMAKE_CXX_COMPILER=c++ \
    -DCMAKE_BUILD_TYPE=Release -DLUMIUPD_NATIVE_BIN="$build/bin" -DLUMIUPD_REPRODUCIBLE=OFF >"$log" 2>&1 ||
    { cat "$log" >&2; echo "native-checker: configuring the checker failed" >&2; exit 2; }
fi
cmake --build "$build/native" >"$log" 2>&1 ||
  { cat "$log" >&2; echo "native-checker: building the checker failed" >&2; exit 2; }
printf '%s\n' "$build/bin/lumiupd-check"
