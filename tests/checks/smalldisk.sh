#!/usr/bin/env bash
# A real 1 MiB disk for the disk-space tests: a tmpfs mounted under the build
# folder and mapped to drive V: of the build's Wine prefix.
# Usage: smalldisk.sh mount|umount BUILD_DIR
# Mounting needs root; where it is not permitted this says so and succeeds,
# and the tests that need the disk skip themselves.
set -u
action=$1
build=$(cd "$2" && pwd)
prefix=${WINEPREFIX:-$build/wineprefix}
dir="$build/smalldisk-checks"
link="$prefix/dosdevices/v:"

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
    if ! mount -t tmpfs -o size=1m tmpfs "$dir" 2>"$build/smalldisk.err"; then
      echo "smalldisk: mounting a tmpfs is not permitted here ($(cat "$build/smalldisk.err")); the small-disk cases will skip"
      rmdir "$dir" 2>/dev/null
      exit 0
    fi
    ln -sfn "$dir" "$link"
    echo "smalldisk: $dir mounted as V:"
    ;;
  umount)
    release
    echo "smalldisk: V: released"
    ;;
  *)
    echo "usage: $0 mount|umount BUILD_DIR" >&2
    exit 2
    ;;
esac
