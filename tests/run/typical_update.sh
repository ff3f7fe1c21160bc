# Sourced by the try-update and try-matrix tests: typical_update FOLDER
# makes FOLDER afresh as the update folder of docs/examples/typical.INF
# (SOURCE_DIR in $source): its script, a new MIRO42.DLL and an RT_IDX.DAT
# of data version 1.30.
typical_update() {
  rm -rf "$1"
  mkdir -p "$1"
  cp "$source/docs/examples/typical.INF" "$1/Lumiupd.INF"
  printf 'new library' >"$1/MIRO42.DLL"
  python3 - "$1/RT_IDX.DAT" <<'PY'
import sys
data = bytearray(128); data[72:76] = b"1.30"
open(sys.argv[1], "wb").write(bytes(data))
PY
}
