#!/usr/bin/env bash
# The release side end to end, on this build's executables: a throwaway
# code-signing certificate, both executables signed and verified against it
# (and not against another), docs/examples/every-command.INF packaged from a
# staging tree with the signed updater, the packager's refusals, and a whole
# update run of the signed updater from the packaged folder under Wine.
# Usage (inside scripts/with-wine-env.sh): release_package.sh BUILD_DIR SOURCE_DIR
set -u
build=$1 source=$2
work=$build/release_package_test
rm -rf "$work"; mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A self-signed certificate for code signing, and a second one that signed nothing.
for who in vendor stranger; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Lumiupd test $who/O=Kevrani" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$work/$who.key" -out "$work/$who.crt" 2>/dev/null || fail "openssl req ($who)"
done
openssl pkcs12 -export -inkey "$work/vendor.key" -in "$work/vendor.crt" -passout pass:secret-1 \
  -out "$work/vendor.p12" 2>/dev/null || fail "openssl pkcs12"

mkdir -p "$work/signed"
cp "$build/bin/Lumiupd.exe" "$build/bin/LumiupdCheck.exe" "$work/signed/"
LUMIUPD_SIGN_PFX=$work/vendor.p12 LUMIUPD_SIGN_PASSWORD=secret-1 LUMIUPD_SIGN_CAFILE=$work/vendor.crt \
  "$source/scripts/sign.sh" "$work/signed/Lumiupd.exe" "$work/signed/LumiupdCheck.exe" || fail "sign.sh"
for exe in Lumiupd.exe LumiupdCheck.exe; do
  osslsigncode verify -CAfile "$work/vendor.crt" -in "$work/signed/$exe" >"$work/verify-$exe.log" 2>&1 ||
    fail "$exe does not verify against the signing certificate"
  grep -q "Message digest algorithm *: SHA256" "$work/verify-$exe.log" || fail "$exe: no SHA-256 digest"
  osslsigncode verify -CAfile "$work/stranger.crt" -in "$work/signed/$exe" >/dev/null 2>&1 &&
    fail "$exe verifies against a certificate that did not sign it"
  cmp -s "$build/bin/$exe" "$work/signed/$exe" && fail "$exe was not changed by signing"
done
LUMIUPD_SIGN_PFX=$work/vendor.p12 LUMIUPD_SIGN_PASSWORD=wrong "$source/scripts/sign.sh" \
  "$work/signed/Lumiupd.exe" >/dev/null 2>&1 && fail "signing with a wrong password succeeded"

# The staging tree: what the commands take, plus a file none of them names.
stage=$work/stage
mkdir -p "$stage/data" "$stage/docs"
printf 'new library' >"$stage/MIRO42.DLL"
printf 'new data' >"$stage/data/NEW.DAT"
printf 'to convert' >"$stage/data/CONV.DAT"
cp "$build/bin/lumiplugin.dll" "$stage/UPDHELP.DLL"
cp "$build/bin/recorder.exe" "$stage/CONVERT.EXE"
printf 'notes' >"$stage/docs/notes.txt"
package() { UPDATER=$work/signed/Lumiupd.exe "$source/scripts/package.sh" "$build" "$@"; }

out=$work/out/every-command
package "$source/docs/examples/every-command.INF" "$stage" "$out" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; fail "packaging every-command.INF"; }
cat "$work/package.log"
listed=$(cd "$out" 2>/dev/null && find . -type f -printf '%P\n' | LC_ALL=C sort | tr '\n' ' ')
[ "$listed" = "CONVERT.EXE MIRO42.DLL SHA256SUMS UPDHELP.DLL data/CONV.DAT data/NEW.DAT every-command.INF every-command.exe " ] ||
  fail "packaged files: $listed"
cmp -s "$out/every-command.exe" "$work/signed/Lumiupd.exe" || fail "the updater is not the signed one"
cmp -s "$out/every-command.INF" "$source/docs/examples/every-command.INF" || fail "the script was changed"
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the folder"
[ "$(wc -l <"$out/SHA256SUMS")" -eq 7 ] || fail "SHA256SUMS does not list the 7 files"
grep -q "warning: no command names $stage/docs/notes.txt" "$work/package.log" || fail "no warning about docs/notes.txt"
for rel in every-command.exe data/NEW.DAT UPDHELP.DLL; do
  grep -q "^  $rel " "$work/package.log" || fail "$rel is not listed"
done

# Refusals leave nothing at OUT, nor a half-built folder beside it.
package "$source/docs/examples/every-command.INF" "$stage" "$out" >/dev/null 2>&1 && fail "packaged over an existing folder"
mv "$stage/data/NEW.DAT" "$work/NEW.DAT"
package "$source/docs/examples/every-command.INF" "$stage" "$work/out/missing" >"$work/missing.log" 2>&1 &&
  fail "packaged with data/NEW.DAT missing"
grep -q 'file "data\\NEW.DAT" is missing from the update folder' "$work/missing.log" || fail "the missing file is not named"
mv "$work/NEW.DAT" "$stage/data/NEW.DAT"
package "$source/docs/examples/broken.INF" "$stage" "$work/out/broken" >"$work/broken.log" 2>&1 &&
  fail "packaged a script the checker refuses"
grep -q 'broken.INF:5: error: ' "$work/broken.log" || fail "the checker's error is not shown"
[ "$(ls -A "$work/out")" = "every-command" ] || fail "left behind: $(ls -A "$work/out" | tr '\n' ' ')"

# The signed updater runs the whole update from the packaged folder.
LUMIUPD_PACKAGED_FOLDER="Z:${out//\//\\}" "$build/wine-run.sh" "$build/bin/test_run_acceptance.exe" \
  --gtest_filter=EveryCommand.DISABLED_FromAPackagedFolder --gtest_also_run_disabled_tests >"$work/run.log" 2>&1 ||
  { cat "$work/run.log"; fail "the update from the packaged folder"; }
grep -q "\[  PASSED  \] 1 test" "$work/run.log" || { cat "$work/run.log"; fail "the packaged run did not pass"; }

[ $failures -eq 0 ] && echo "release_package: all checks passed"
exit $((failures > 0))
