#!/usr/bin/env bash
# Benchmark (not a test): the updater against minimal programs doing the same
# work, measured side by side in one run under Wine.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
run="$build/wine-run.sh"
tools="$build/bin/bench_tools.exe"
root="$build/wineprefix/drive_c/LumiBench"
files=${BENCH_FILES:-20}
mb=${BENCH_MB:-20}
small=${BENCH_SMALL:-10000}
rm -rf "$root"; mkdir -p "$root/Copy/data" "$root/App/data" "$root/Base" "$root/Walk" "$root/App2"

# An installed copy that every script below accepts.
make_app() {
  python3 - "$1" <<'PY'
import sys, os
d = sys.argv[1]
b = bytearray(96); b[72:80] = b"9.99\0\0\0\0"
open(os.path.join(d, "RT_IDX.DAT"), "wb").write(bytes(b))
open(os.path.join(d, "MIRO42.DLL"), "wb").write(b"x")
PY
}
make_app "$root/App"; make_app "$root/App2"

# 1. A copy update of FILES files of MB megabytes each.
script="id=BENCH\r\ntarget=9\r\n"
for i in $(seq -w 1 "$files"); do
  head -c $((mb * 1024 * 1024)) /dev/urandom >"$root/Copy/data/F$i.BIN"
  script="${script}copy=data\\\\F$i.BIN\r\n"
done
printf "$script" >"$root/Copy/Lumiupd.INF"
cp "$build/bin/Lumiupd.exe" "$root/Copy/"
mkdir -p "$root/Base/data"
# Both sides are measured as whole processes, start-up included.
tool='C:\LumiBench\bench_tools.exe'
cp "$tools" "$root/"
base=$("$run" "$tools" run "$tool" copy 'C:\LumiBench\Copy\data' 'C:\LumiBench\Base\data' | tr -d '\r' | tail -1)
upd=$("$run" "$tools" run 'C:\LumiBench\Copy\Lumiupd.exe' -auto -silent 'C:\LumiBench\App' | tr -d '\r' | tail -1)

# 2. The pre-flight over SMALL small files in nested folders (no commands).
python3 - "$root/Walk" "$small" <<'PY'
import sys, os
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "d%02d" % (i % 50), "e%02d" % (i % 7))
    os.makedirs(d, exist_ok=True)
    open(os.path.join(d, "f%05d.txt" % i), "wb").write(b"x" * (i % 300))
PY
printf 'id=WALK\r\ntarget=9\r\n' >"$root/Walk/Lumiupd.INF"
cp "$build/bin/Lumiupd.exe" "$root/Walk/"
walk=$("$run" "$tools" run "$tool" walk 'C:\LumiBench\Walk' | tr -d '\r' | tail -1)
pre=$("$run" "$tools" run 'C:\LumiBench\Walk\Lumiupd.exe' -auto -silent 'C:\LumiBench\App2' | tr -d '\r' | tail -1)

field() { echo "$1" | sed -n "s/.*$2=\([-0-9]*\).*/\1/p"; }
pause=$((files * 200))
upd_ms=$(field "$upd" ms); base_ms=$(field "$base" ms); pre_ms=$(field "$pre" ms); walk_ms=$(field "$walk" ms)
net=$((upd_ms - pause))
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b <= 0) b = 1; printf "%.2f", a / b }'; }

printf '\n%-46s %12s %12s %8s\n' "measure" "Lumiupd" "baseline" "ratio"
printf '%-46s %12s %12s %8s\n' "copy ${files} x ${mb} MB (ms, less ${pause} ms pauses)" "$net" "$base_ms" "$(ratio "$net" "$base_ms")"
printf '%-46s %12s %12s %8s\n' "pre-flight of ${small} small files (ms)" "$pre_ms" "$walk_ms" "$(ratio "$pre_ms" "$walk_ms")"
printf '%-46s %12s\n' "exe size (bytes)" "$(stat -c %s "$build/bin/Lumiupd.exe")"
printf '%-46s %12s\n' "peak working set, copy run (KB)" "$(field "$upd" peak_kb)"
printf '%-46s %12s\n' "peak working set, pre-flight run (KB)" "$(field "$pre" peak_kb)"
printf '%-46s %12s\n' "exit codes (copy, pre-flight)" "$(field "$upd" exit), $(field "$pre" exit)"
echo "goal: copy ratio at most 1.3"
rm -rf "$root"
