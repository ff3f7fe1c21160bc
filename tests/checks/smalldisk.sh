#!/usr/bin/env bash
# A real small disk for the tests that fill one: a tmpfs mounted under the
# build folder and mapped to a drive of the build's Wine prefix (V: of 1 MiB
# unless told otherwise).
# Usage: smalldisk.sh mount|umount BUILD_DIR [LETTER SIZE]
# Mounting needs root; where it is not permitted this says so and succeeds,
# and the tests that need the disk skip themselves.
set -u
action=$1
build=$(cd "$2" && pwd)
letter=${3:-v}
size=${4:-1m}
prefix=${WINEPREFIX:-$build/wineprefix}
dir="$build/smalldisk-$letter"
link="$prefix/dosdevices/$letter:"
drive=$(echo "$letter" | tr a-z A-Z):

release() {
  rm -f "$link"
  if mountpoint -q "$dir" 2>/dev/null; then umount "$dir" || umount -l "$dir"; fi
  [ -d "$dir" ] && rmdir "$dir" 2>/dev/null
  return 0
}

case "$action" in
  mount)
    release
    mkdir -p "$dir"
    if ! mount -t tmpfs -o size="$size" tmpfs "$dir" 2>"$build/smalldisk-$letter.err"; then
      echo "smalldisk: mounting a tmpfs is not permitted here ($(cat "$build/smalldisk-$letter.err")); the small-disk cases will skip"
      rmdir "$dir" 2>/dev/null
      exit 0
    fi
    ln -sfn "$dir" "$link"
    echo "smalldisk: $dir ($size) mounted as $drive"
    ;;
  umount)
    release
    echo "smalldisk: $drive released"
    ;;
  *)
    echo "usage: $0 mount|umount BUILD_DIR [LETTER SIZE]" >&2
    exit 2
    ;;
esac
