#!/usr/bin/env bash
# make try-matrix's script on the guide's typical example over three data
# versions and every condition: the table's exit codes, the installed copy
# whole old or whole new by hash, the id registered; then a script whose
# middle command fails, which leaves the copy mixed.
# Runs inside scripts/with-wine-env.sh, as every test does.
set -u
build=$1 source=$2
folder="$build/try-matrix-test"
# shellcheck source=tests/run/typical_update.sh
. "$source/tests/run/typical_update.sh"
typical_update "$folder"
fail=0
expect() {  # expect ROW: the table holds the row, its blanks squeezed
  tr -s ' ' <"$build/try-matrix-test.out" | grep -qxF -- "$1" || { echo "FAIL: no row [$1]"; fail=1; }
}

MATRIX_REPORT=$build/try-matrix-report "$source/scripts/try-matrix.sh" "$build" "$folder" "1.0 1.1 1.2" \
  >"$build/try-matrix-test.out" 2>&1 || { echo "FAIL: try-matrix exited $?"; fail=1; }
expect "1.0 3 whole old no"
expect "1.1 0 whole new yes"
expect "1.2 0 whole new yes"
expect "1.1, application running 5 whole old no"
if [ "$(id -u)" = 0 ]; then
  tr -s ' ' <"$build/try-matrix-test.out" | grep -qx "1.1, small drive ([0-9]*k) 7 whole old no" ||
    { echo "FAIL: no small drive row with 7"; fail=1; }
else
  expect "1.1, small drive (needs root: left out) - - -"
fi
expect "1.1, run twice 3 whole new yes"
[ "$fail" = 0 ] || cat "$build/try-matrix-test.out"

# The copy stops after its library, before its data version: mixed.
{ head -n -1 "$source/docs/examples/typical.INF"; printf 'copy=nodir\\x.dat\r\ncopy=RT_IDX.DAT\r\n'; } >"$folder/Lumiupd.INF"
mkdir -p "$folder/nodir"
printf 'x' >"$folder/nodir/x.dat"
CONDITIONS="" MATRIX_REPORT=$build/try-matrix-report "$source/scripts/try-matrix.sh" "$build" "$folder" "1.2" \
  >"$build/try-matrix-test.out" 2>&1 || { echo "FAIL: try-matrix exited $?"; fail=1; }
expect "1.2 4 mixed no"
[ "$fail" = 0 ] || { cat "$build/try-matrix-test.out"; cat "$folder/Lumiupd.INF"; }

"$build/wine-run.sh" reg query 'HKLM\Software\Kevrani\ルミテル ミルテ版' >/dev/null 2>&1 && { echo "FAIL: registration left behind"; fail=1; }
rm -rf "$folder" "$build/try-matrix-report"
[ "$fail" = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
