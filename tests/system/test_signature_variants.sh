#!/bin/bash
# The system's own bcrypt, driven by the launcher's signature check
# (check_signature.exe: payload/verify_signature.cpp and platform/win32 as
# in launcher.exe), decides as the unit tests on the fake platform do: the
# development key's signature over the SHA-256 of the content is accepted,
# whole and with the digest fed in slices; every other signature is refused.
# The variants are made here on the host with openssl.
source "$(dirname "$0")/lib.sh"

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
KEY=$ROOT/keys/dev_private.pem
CHECK=$FIXTURE_DIR/check_signature.exe

# make_vectors DIR: content files and signature files in DIR; false when
# one cannot be made.
make_vectors() {
  local dir=$1
  (
    set -e
    cd "$dir"
    python3 - <<'PY'
import hashlib, zlib
content = bytes((i * 31 // 7) & 0xFF for i in range(300000))
changed = bytearray(content); changed[150000] ^= 1
open("content", "wb").write(content)
open("changed", "wb").write(bytes(changed))
open("compressed", "wb").write(zlib.compress(content, 9))
digest = hashlib.sha256(content).digest()
oid = bytes.fromhex("0609608648016503040201")
open("tbs-full", "wb").write(bytes.fromhex("3031300d") + oid + bytes.fromhex("0500") + b"\x04\x20" + digest)
open("tbs-no-null", "wb").write(bytes.fromhex("302f300b") + oid + b"\x04\x20" + digest)
open("tbs-bare", "wb").write(digest)
PY
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out stranger.pem 2>/dev/null
    openssl dgst -sha256 -sign "$KEY" -out genuine.sig content
    openssl dgst -sha256 -sign stranger.pem -out stranger.sig content
    openssl dgst -sha1 -sign "$KEY" -out sha1.sig content
    openssl dgst -sha256 -sign "$KEY" -out compressed.sig compressed
    local tbs
    for tbs in full no-null bare; do
      openssl pkeyutl -sign -inkey "$KEY" -pkeyopt rsa_padding_mode:pkcs1 -in "tbs-$tbs" \
        -out "raw-$tbs.sig"
    done
    { cat genuine.sig; printf '\0'; } >trailing.sig
  )
}

# check NAME CONTENT SIGNATURE WANT: check_signature.exe prints
# "block=WANT sliced=WANT" for the pair.
check() {
  local name=$1 content=$2 signature=$3 want=$4 got
  got=$(in_prefix "$CASE_PREFIX" wine "$CHECK" "$(winpath "$CASE_DIR/$content")" \
    "$(winpath "$CASE_DIR/$signature")" 2>>"$CASE_ARTIFACTS/wine.log" | tr -d '\r')
  echo "$name: $got" >>"$CASE_ARTIFACTS/outcomes.txt"
  [ "$got" = "block=$want sliced=$want" ] || fail "$name: want $want, got '${got:-nothing}'"
}

case_variants() {
  [ -f "$CHECK" ] || { fail "no $CHECK (build the Windows tree)"; return; }
  make_vectors "$CASE_DIR" >"$CASE_ARTIFACTS/vectors.log" 2>&1 ||
    { fail "the vectors cannot be made: $(tail -n1 "$CASE_ARTIFACTS/vectors.log")"; return; }
  # Accepted: the signature as stubpack makes it, and the same encoding made
  # by hand (so that the refusals below are the encodings' doing).
  check "genuine" content genuine.sig Verified
  check "genuine, DigestInfo written out" content raw-full.sig Verified
  # Refused.
  check "another key" content stranger.sig Mismatch
  check "a changed content byte" changed genuine.sig Mismatch
  check "over the compressed bytes" content compressed.sig Mismatch
  check "DigestInfo without its NULL parameter" content raw-no-null.sig Mismatch
  check "a bare digest without DigestInfo" content raw-bare.sig Mismatch
  check "SHA-1" content sha1.sig Mismatch
  check "a trailing byte" content trailing.sig Mismatch
}

run_case "bcrypt accepts the genuine signature and refuses every variant" case_variants
finish
