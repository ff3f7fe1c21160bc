#!/usr/bin/env bash
# Signs executables in place (Authenticode, SHA-256, osslsigncode) with the
# certificate and key of LUMIUPD_SIGN_PFX (PKCS#12) and LUMIUPD_SIGN_PASSWORD,
# then verifies each signature against LUMIUPD_SIGN_CAFILE (default: the
# system's certificates). LUMIUPD_SIGN_TIMESTAMP_URL adds a time stamp from
# that server (it needs the network).
# Usage: scripts/sign.sh EXE...
set -euo pipefail
[ -f "${LUMIUPD_SIGN_PFX:-}" ] || { echo "sign: LUMIUPD_SIGN_PFX: no such file: ${LUMIUPD_SIGN_PFX:-}" >&2; exit 1; }
cafile=${LUMIUPD_SIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The password goes through a private file, not the command line.
(umask 077 && printf '%s' "${LUMIUPD_SIGN_PASSWORD:-}" >"$work/password")
timestamp=()
[ -z "${LUMIUPD_SIGN_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$LUMIUPD_SIGN_TIMESTAMP_URL")
for exe in "$@"; do
  name=$(basename "$exe")
  if ! osslsigncode sign -pkcs12 "$LUMIUPD_SIGN_PFX" -readpass "$work/password" -h sha256 -n "${name%.*}" \
       "${timestamp[@]}" -in "$exe" -out "$work/signed" >"$work/log" 2>&1; then
    cat "$work/log" >&2; echo "sign: signing $exe failed" >&2; exit 1
  fi
  mv "$work/signed" "$exe"
  if ! osslsigncode verify -CAfile "$cafile" -in "$exe" >"$work/log" 2>&1; then
    cat "$work/log" >&2; echo "sign: the signature of $exe does not verify against $cafile" >&2; exit 1
  fi
  echo "sign: $name signed (SHA-256) and verified: $(grep -m1 'Signer.*ubject\|Subject:' "$work/log" | sed 's/^[[:space:]]*//')"
done
