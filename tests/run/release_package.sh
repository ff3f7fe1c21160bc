#!/usr/bin/env bash
# The release side end to end, on this build's executables: a throwaway
# code-signing certificate, both executables signed and verified against it
# (and not against another), docs/examples/every-command.INF packaged from a
# staging tree with the signed updater (its manifest written, the updater
# signed again), the packager's refusals, lumiupd-check --verify on the
# packaged folder and on tampered, partial and mixed copies of it, and a
# whole update run of the signed updater from the packaged folder under Wine.
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

mkdir -p "$work/signed" "$work/unsigned"
cp "$build/bin/Lumiupd.exe" "$build/bin/LumiupdCheck.exe" "$work/unsigned/"
# The manifest's section of an updater, as objdump lists it (count) and as
# objcopy takes it out.
sections() { i686-w64-mingw32-objdump -h "$1" | grep -c ' \.lumiman '; }
manifest_of() { i686-w64-mingw32-objcopy -O binary --only-section=.lumiman "$1" /dev/stdout; }
[ "$(sections "$work/unsigned/Lumiupd.exe")" -eq 0 ] || fail "the built updater holds a manifest section"
cp "$work/unsigned/"*.exe "$work/signed/"
LUMIUPD_SIGN_PFX=$work/vendor.p12 LUMIUPD_SIGN_PASSWORD=secret-1 LUMIUPD_SIGN_CAFILE=$work/vendor.crt \
  "$source/scripts/sign.sh" "$work/signed/Lumiupd.exe" "$work/signed/LumiupdCheck.exe" || fail "sign.sh"
for exe in Lumiupd.exe LumiupdCheck.exe; do
  osslsigncode verify -CAfile "$work/vendor.crt" -in "$work/signed/$exe" >"$work/verify-$exe.log" 2>&1 ||
    fail "$exe does not verify against the signing certificate"
  grep -q "Message digest algorithm *: SHA256" "$work/verify-$exe.log" || fail "$exe: no SHA-256 digest"
  osslsigncode verify -CAfile "$work/stranger.crt" -in "$work/signed/$exe" >/dev/null 2>&1 &&
    fail "$exe verifies against a certificate that did not sign it"
  cmp -s "$work/unsigned/$exe" "$work/signed/$exe" && fail "$exe was not changed by signing"
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
package() {
  UPDATER=${UPDATER:-$work/signed/Lumiupd.exe} LUMIUPD_SIGN_PFX=${LUMIUPD_SIGN_PFX-$work/vendor.p12} \
    LUMIUPD_SIGN_PASSWORD=secret-1 LUMIUPD_SIGN_CAFILE=$work/vendor.crt "$source/scripts/package.sh" "$build" "$@"
}
checker=$build/bin/lumiupd-check

out=$work/out/every-command
package "$source/docs/examples/every-command.INF" "$stage" "$out" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; fail "packaging every-command.INF"; }
cat "$work/package.log"
listed=$(cd "$out" 2>/dev/null && find . -type f -printf '%P\n' | LC_ALL=C sort | tr '\n' ' ')
[ "$listed" = "CONVERT.EXE MIRO42.DLL SHA256SUMS UPDHELP.DLL data/CONV.DAT data/NEW.DAT every-command.INF every-command.exe " ] ||
  fail "packaged files: $listed"
osslsigncode verify -CAfile "$work/vendor.crt" -in "$out/every-command.exe" >/dev/null 2>&1 ||
  fail "the packaged updater is not signed again"
cmp -s "$out/every-command.exe" "$work/signed/Lumiupd.exe" && fail "the packaged updater holds no manifest"
cmp -s "$out/every-command.INF" "$source/docs/examples/every-command.INF" || fail "the script was changed"
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the folder"
[ "$(wc -l <"$out/SHA256SUMS")" -eq 7 ] || fail "SHA256SUMS does not list the 7 files"
grep -q "warning: no command names $stage/docs/notes.txt" "$work/package.log" || fail "no warning about docs/notes.txt"
for rel in every-command.exe data/NEW.DAT UPDHELP.DLL; do
  grep -q "^  $rel " "$work/package.log" || fail "$rel is not listed"
done

# The manifest as the updater reads it, worked out here with sha256sum; the
# updater's own digest by Python, over the file without its checksum, its
# signature and the manifest's section data.
manifest=$(manifest_of "$out/every-command.exe" | tr -d '\0')
sealed=$(python3 - "$out/every-command.exe" <<'PY'
import hashlib, struct, sys
d = open(sys.argv[1], 'rb').read()
pe = struct.unpack_from('<I', d, 0x3C)[0]
count, optional = struct.unpack_from('<H', d, pe + 6)[0], pe + 24
sections = optional + struct.unpack_from('<H', d, pe + 20)[0]
left = [(optional + 64, 4), (optional + 96 + 32, 8), struct.unpack_from('<II', d, optional + 96 + 32)]
for i in range(count):
    h = sections + 40 * i
    if d[h:h + 8] == b'.lumiman':
        left.append(struct.unpack_from('<II', d, h + 16)[::-1])
at, digest = 0, hashlib.sha256()
for start, size in sorted(l for l in left if l[1]):
    digest.update(d[at:start]); at = start + size
digest.update(d[at:])
print(digest.hexdigest())
PY
)
expected="LUMIUPD-MANIFEST 2
id=U0302
created=$(date -u -d "@$(stat -c %Y "$stage/data/CONV.DAT" "$stage/data/NEW.DAT" "$stage/MIRO42.DLL" \
  "$stage/UPDHELP.DLL" "$stage/CONVERT.EXE" "$source/docs/examples/every-command.INF" | sort -n | tail -1)" +%FT%TZ)
updater=$sealed"
for rel in every-command.INF CONVERT.EXE MIRO42.DLL UPDHELP.DLL data/CONV.DAT data/NEW.DAT; do
  expected+=$'\n'"file=$(sha256sum <"$out/$rel" | cut -c1-64) $(stat -c %s "$out/$rel") ${rel//\//\\}"
done
[ "$manifest" = "$expected" ] || fail "the manifest: $manifest"
[ "$(sections "$out/every-command.exe")" -eq 1 ] || fail "the packaged updater does not hold one manifest section"
"$checker" --verify "$out" >"$work/verify.log"; code=$?
[ $code -eq 0 ] && grep -q '^RESULT: verified$' "$work/verify.log" ||
  { cat "$work/verify.log"; fail "the packaged folder does not verify (exit $code)"; }

# Tampered, partial and mixed copies of it are refused, each naming the file.
# The mixed ones take a file or the updater from a package of other data.
cp -a "$stage" "$work/stage2"
printf 'other conversion' >"$work/stage2/data/CONV.DAT"
package "$source/docs/examples/every-command.INF" "$work/stage2" "$work/other" >"$work/other.log" 2>&1 ||
  { cat "$work/other.log"; fail "packaging other data"; }
verify_refused() {  # case file-named change-command...
  local case=$1 named=$2 copy=$work/bad/$1
  shift 2
  mkdir -p "$work/bad"; cp -a "$out" "$copy"
  (cd "$copy" && eval "$@")
  "$checker" --verify "$copy" >"$work/bad/$case.log" 2>&1; local code=$?
  [ $code -eq 1 ] || { cat "$work/bad/$case.log"; fail "$case: exit $code, not 1"; }
  grep -q "^$copy/$named: error: " "$work/bad/$case.log" || { cat "$work/bad/$case.log"; fail "$case: $named is not named"; }
}
verify_refused changed data/NEW.DAT "printf 'NEW data' >data/NEW.DAT"
verify_refused missing MIRO42.DLL "rm MIRO42.DLL"
verify_refused partial UPDHELP.DLL "truncate -s 100 UPDHELP.DLL"
verify_refused mixed data/CONV.DAT "cp '$work/other/data/CONV.DAT' data/"
verify_refused other-updater data/CONV.DAT "cp '$work/other/every-command.exe' ."
verify_refused script-changed every-command.INF "printf 'copy=data\\\\LATE.DAT\\r\\n' >>every-command.INF; printf late >data/LATE.DAT"
grep -q "/data/LATE.DAT: error: the script takes this file but the manifest does not list it" \
  "$work/bad/script-changed.log" || fail "the file the manifest leaves out is not named"
verify_refused no-manifest every-command.exe "cp '$work/unsigned/Lumiupd.exe' every-command.exe"
verify_refused tampered-updater every-command.exe \
  "printf 'X' | dd of=every-command.exe bs=1 seek=2000 conv=notrunc status=none"
grep -q "every-command.exe: error: it is not the updater its manifest was written for" \
  "$work/bad/tampered-updater.log" || fail "a changed updater is not told from the packaged one"
"$checker" --verify "$stage" >/dev/null 2>&1; code=$?
[ $code -eq 2 ] || fail "a folder without an updater: exit $code, not 2"

# The same inputs give the same updater; signed, all but the signature's
# signing time is the same.
package "$source/docs/examples/every-command.INF" "$stage" "$work/again" >/dev/null 2>&1 || fail "packaging again"
for copy in "$out" "$work/again"; do
  osslsigncode remove-signature -in "$copy/every-command.exe" -out "$work/${copy##*/}.unsigned.exe" >/dev/null 2>&1 ||
    fail "$copy/every-command.exe: no signature to remove"
done
cmp -s "$work/every-command.unsigned.exe" "$work/again.unsigned.exe" || fail "packaging twice gives another updater"
for run in 1 2; do
  UPDATER=$work/unsigned/Lumiupd.exe LUMIUPD_SIGN_PFX= package "$source/docs/examples/every-command.INF" "$stage" \
    "$work/unsigned-$run" >/dev/null 2>&1 || fail "packaging with the unsigned updater"
done
cmp -s "$work/unsigned-1/every-command.exe" "$work/unsigned-2/every-command.exe" ||
  fail "packaging twice unsigned gives another updater"

# make package shows every finding of the checker and STRICT=1 refuses a
# warning, with paths taken from the folder make is called from (not the
# project's). The build folder holds a release and its checker only.
mbuild=$work/mbuild
mkdir -p "$mbuild/release"
cp "$work/unsigned/Lumiupd.exe" "$mbuild/release/"
cp "$checker" "$mbuild/release/lumiupd-check"
cp -a "$stage" "$work/lenient"
rm "$work/lenient/docs/notes.txt"
{ cat "$source/docs/examples/every-command.INF"; printf 'log=no-slash\r\n'; } >"$work/lenient/every-command.INF"
warned="$work/lenient/every-command.INF:[0-9]*: warning: \"log\" comment holds 0 \"/\""
for strict in 0 1; do
  (cd "$work" && make -s -C "$source" BUILD="$mbuild" package SCRIPT=lenient/every-command.INF FROM=lenient \
    OUT=mout/strict-$strict STRICT=$strict) >"$work/strict-$strict.log" 2>&1; code=$?
  grep -q "^$warned" "$work/strict-$strict.log" || { cat "$work/strict-$strict.log"; fail "STRICT=$strict: the warning is not shown"; }
  if [ $strict = 0 ]; then
    [ $code -eq 0 ] && [ -f "$work/mout/strict-0/every-command.exe" ] ||
      { cat "$work/strict-0.log"; fail "a script with a warning was not packaged without STRICT (exit $code)"; }
  else
    [ $code -ne 0 ] && grep -q "STRICT=1 and the checker warns about .*every-command.INF (1)" "$work/strict-1.log" ||
      { cat "$work/strict-1.log"; fail "STRICT=1 did not refuse a warning (exit $code)"; }
    [ -e "$work/mout/strict-1" ] && fail "STRICT=1 refused, yet wrote its folder"
  fi
done

# Refusals leave nothing at OUT, nor a half-built folder beside it.
package "$source/docs/examples/every-command.INF" "$stage" "$out" >/dev/null 2>&1 && fail "packaged over an existing folder"
for updater in "$build/bin/recorder.exe:reads no manifest: it is not an updater that verifies its folder" \
               "$work/unsigned-1/every-command.exe:no manifest can be added: it holds one already" \
               "$work/signed/Lumiupd.exe:is signed: give LUMIUPD_SIGN_PFX"; do
  UPDATER=${updater%%:*} LUMIUPD_SIGN_PFX= package "$source/docs/examples/every-command.INF" "$stage" "$work/out/refused" \
    >"$work/refused.log" 2>&1 && fail "packaged with ${updater%%:*}"
  grep -q "${updater#*:}" "$work/refused.log" || { cat "$work/refused.log"; fail "no \"${updater#*:}\""; }
done
mv "$stage/data/NEW.DAT" "$work/NEW.DAT"
package "$source/docs/examples/every-command.INF" "$stage" "$work/out/missing" >"$work/missing.log" 2>&1 &&
  fail "packaged with data/NEW.DAT missing"
grep -q 'file "data\\NEW.DAT" is missing from the update folder' "$work/missing.log" || fail "the missing file is not named"
mv "$work/NEW.DAT" "$stage/data/NEW.DAT"
package "$source/docs/examples/broken.INF" "$stage" "$work/out/broken" >"$work/broken.log" 2>&1 &&
  fail "packaged a script the checker refuses"
grep -q 'broken.INF:5: error: ' "$work/broken.log" || fail "the checker's error is not shown"
# An error the updater lets through (a script saved as UTF-8) refuses it too.
mkdir -p "$work/utf8"
iconv -f CP932 -t UTF-8 "$source/docs/examples/every-command.INF" >"$work/utf8/every-command.INF"
package "$work/utf8/every-command.INF" "$stage" "$work/out/utf8" >"$work/utf8.log" 2>&1 &&
  fail "packaged a script saved as UTF-8"
grep -q 'every-command.INF: error: the script is saved as UTF-8' "$work/utf8.log" &&
  grep -q "the checker reports errors in .*every-command.INF (1)" "$work/utf8.log" || { cat "$work/utf8.log"; fail "the UTF-8 error is not shown"; }
[ "$(ls -A "$work/out")" = "every-command" ] || fail "left behind: $(ls -A "$work/out" | tr '\n' ' ')"

# The signed updater runs the whole update from the packaged folder.
LUMIUPD_PACKAGED_FOLDER="Z:${out//\//\\}" "$build/wine-run.sh" "$build/bin/test_run_acceptance.exe" \
  --gtest_filter=EveryCommand.DISABLED_FromAPackagedFolder --gtest_also_run_disabled_tests >"$work/run.log" 2>&1 ||
  { cat "$work/run.log"; fail "the update from the packaged folder"; }
grep -q "\[  PASSED  \] 1 test" "$work/run.log" || { cat "$work/run.log"; fail "the packaged run did not pass"; }

[ $failures -eq 0 ] && echo "release_package: all checks passed"
exit $((failures > 0))
