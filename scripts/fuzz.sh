#!/usr/bin/env bash
# Builds the native fuzz targets and runs them.
#   scripts/fuzz.sh run    [SECONDS]   every target for SECONDS (default 60)
#   scripts/fuzz.sh replay [SECONDS]   replay each seed corpus, then SECONDS of new inputs (default 3)
# A finding ends with a non-zero exit; its reproducer is kept under BUILD/fuzz/findings/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-run}
seconds=${2:-}
build=${BUILD:-$here/build}
[ -n "$seconds" ] || { [ "$mode" = replay ] && seconds=3 || seconds=60; }
out="$build/fuzz"
cmake -S "$here/tests/fuzz" -B "$out" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$out" >/dev/null
mkdir -p "$out/findings" "$out/corpus"
status=0
for exe in "$out"/bin/fuzz_*; do
  name=${exe##*/fuzz_}
  seeds="$here/tests/fuzz/corpus/$name"
  work="$out/corpus/$name"
  mkdir -p "$work" "$seeds"
  log="$out/$name.log"
  if ! "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
        -artifact_prefix="$out/findings/$name-" "$work" "$seeds" >"$log" 2>&1; then
    echo "fuzz $name: FINDING (see $log and $out/findings/)"
    status=1
  else
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    [ -n "$execs" ] || execs=$(grep -Eo '#[0-9]+' "$log" | tail -1 | tr -d '#')
    echo "fuzz $name: ok, $execs executions in ${seconds}s"
  fi
done
exit $status
