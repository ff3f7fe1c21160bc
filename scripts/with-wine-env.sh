#!/usr/bin/env bash
# Runs a command with one Xvfb and one persistent wineserver for BUILD_DIR,
# and stops exactly those two afterwards, also when the command fails.
# Usage: scripts/with-wine-env.sh BUILD_DIR command...
set -u
build=$(cd "$1" && pwd); shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 TZ=UTC

display=""
start=$(( 91 + $$ % 40 ))
for n in $(seq $start 140) $(seq 91 $start); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$build/xvfb.log" 2>&1 &
xvfb_pid=$!
echo ":$display" >"$build/.display"
export DISPLAY=":$display"

stop() {
  wineserver -k >/dev/null 2>&1
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  rm -f "$build/.display"
}
trap stop EXIT
trap 'exit 130' INT TERM

for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
wineserver -p >"$build/wineserver.log" 2>&1
# Start Wine's own services now, with their output in a file, so that no test
# run leaves them holding its pipes.
wine cmd /c exit >"$build/wine-warmup.log" 2>&1 </dev/null
"$@"
