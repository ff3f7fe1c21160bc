#!/usr/bin/env bash
# make release: BUILD_DIR/release/ with Lumiupd.exe, LumiupdCheck.exe, the
# native lumiupd-check and SHA256SUMS. The sources are built twice, from two
# copies at different paths, and the release is refused unless both builds
# are the same byte for byte. With LUMIUPD_SIGN_PFX (a PKCS#12 file) and
# LUMIUPD_SIGN_PASSWORD both executables are signed (Authenticode, SHA-256)
# and the signatures verified against LUMIUPD_SIGN_CAFILE (default: the
# system's certificates): scripts/sign.sh.
# Usage: scripts/release.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
build=$(cd "$1" && pwd)
out=$build/release
work=$build/release-work
exes=(Lumiupd.exe LumiupdCheck.exe)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null || echo 0)}
export TZ=UTC LC_ALL=C.UTF-8

# One build of a copy of the sources at tree (its build folder inside it).
build_copy() {
  local tree=$1
  mkdir -p "$tree"
  (cd "$here" && tar --exclude=./build --exclude='./build-*' --exclude=./.git -cf - .) | (cd "$tree" && tar -xf -)
  cmake -S "$tree" -B "$tree/out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DLUMIUPD_REPRODUCIBLE=ON >"$tree.configure.log" 2>&1 ||
    { cat "$tree.configure.log"; return 1; }
  cmake --build "$tree/out" --target Lumiupd LumiupdCheck lumiupd_check_native >"$tree.build.log" 2>&1 ||
    { tail -30 "$tree.build.log"; return 1; }
}

rm -rf "$work"
first=$work/a/lumiupd
second=$work/second-copy/elsewhere/lumiupd-sources
echo "release: building in $first"
build_copy "$first"
echo "release: building again in $second"
build_copy "$second"
for file in "${exes[@]}" lumiupd-check; do
  if ! cmp -s "$first/out/bin/$file" "$second/out/bin/$file"; then
    echo "release: $file differs between the two builds: the build is not reproducible" >&2
    cmp "$first/out/bin/$file" "$second/out/bin/$file" | head -3 >&2 || true
    exit 1
  fi
done
echo "release: both builds are byte-identical"

staged=$work/release
mkdir -p "$staged"
for file in "${exes[@]}" lumiupd-check; do cp "$first/out/bin/$file" "$staged/"; done

if [ -n "${LUMIUPD_SIGN_PFX:-}" ]; then
  "$here/scripts/sign.sh" "${exes[@]/#/$staged/}"
  signed="signed"
else
  signed="UNSIGNED"
  echo "release: LUMIUPD_SIGN_PFX is not set: the release is UNSIGNED (Windows will name no publisher)"
fi

(cd "$staged" && sha256sum "${exes[@]}" lumiupd-check >SHA256SUMS)
rm -rf "$out"
mv "$staged" "$out"
rm -rf "$work"   # the two trees stay when the builds differ, to compare them
version=$(sed -n 's/^project(Lumiupd VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
echo "release: $out (version $version, $signed)"
(cd "$out" && for f in "${exes[@]}" lumiupd-check; do printf '  %-18s %8s bytes\n' "$f" "$(stat -c %s "$f")"; done)
sed 's/^/  /' "$out/SHA256SUMS"
