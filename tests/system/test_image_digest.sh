#!/bin/bash
# The image digest of the real launcher (stubpack digest) stays the same
# through every way a setup.exe is made from it: signed with osslsigncode;
# signed, then packed into the certificate table; signed with a payload
# certificate; packed unsigned (appended), and packed again with --replace.
# One changed byte in its code section changes it, and the recipient's
# one-liner in docs/publishing.md computes the same. Nothing here runs under
# Wine: the cases only use the host's stubpack, osslsigncode and python3.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

# digest_of FILE: prints the digest of FILE; a failed check when stubpack
# does not print one.
digest_of() {
  local out
  out=$("$STUBPACK" digest "$1" 2>>"$CASE_ARTIFACTS/digest.log") || {
    fail "stubpack digest fails on $(basename "$1"): $(tail -n1 "$CASE_ARTIFACTS/digest.log")"
    return 1
  }
  [[ $out =~ ^[0-9a-f]{64}$ ]] || { fail "stubpack digest printed '$out'"; return 1; }
  printf '%s\n' "$out"
}

case_signed_and_packed() {
  local want file got
  want=$(digest_of "$LAUNCHER_EXE") || return
  echo "launcher.exe $want" >"$CASE_ARTIFACTS/digests.txt"
  local pack=("$STUBPACK" pack --key "$E2E_KEY" --msi "$E2E_DIR/sample/en/demo.msi")
  "${pack[@]}" --launcher "$LAUNCHER_EXE" --out "$CASE_DIR/appended.exe" \
    >>"$CASE_ARTIFACTS/pack.log" 2>&1 || fail "pack of the unsigned launcher fails"
  "${pack[@]}" --launcher "$CASE_DIR/appended.exe" --replace --out "$CASE_DIR/replaced.exe" \
    --msi "$E2E_DIR/sample/de/demo.msi" >>"$CASE_ARTIFACTS/pack.log" 2>&1 ||
    fail "pack --replace fails"
  cmp -s "$CASE_DIR/appended.exe" "$CASE_DIR/replaced.exe" && fail "--replace changed nothing"
  # signed.exe: signed; setup.exe: signed, then packed into the certificate
  # table; setup-cert.exe: signed with the payload certificate.
  for file in "$E2E_DIR/signed.exe" "$E2E_DIR/setup.exe" "$E2E_DIR/setup-cert.exe" \
    "$CASE_DIR/appended.exe" "$CASE_DIR/replaced.exe"; do
    cmp -s "$file" "$LAUNCHER_EXE" && fail "$(basename "$file") is the launcher unchanged"
    got=$(digest_of "$file") || continue
    echo "$(basename "$file") $got" >>"$CASE_ARTIFACTS/digests.txt"
    [ "$got" = "$want" ] || fail "$(basename "$file") has digest $got, the launcher $want"
  done
  "$STUBPACK" inspect "$E2E_DIR/setup.exe" >"$CASE_ARTIFACTS/inspect.txt" 2>&1
  grep -q "^digest: *$want " "$CASE_ARTIFACTS/inspect.txt" ||
    fail "stubpack inspect shows $(grep -m1 '^digest:' "$CASE_ARTIFACTS/inspect.txt")"
}

case_code_byte_changed() {
  local want got changed=$CASE_DIR/changed.exe
  want=$(digest_of "$LAUNCHER_EXE") || return
  # One byte in the middle of the .text section's raw data.
  python3 - "$LAUNCHER_EXE" "$changed" <<'PY' || fail "no .text section in the launcher"
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 60)[0]
count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
table = pe + 24 + optional_size
for i in range(count):
    name, raw_size, raw_pos = data[table + 40 * i:table + 40 * i + 8], *struct.unpack_from("<II", data, table + 40 * i + 16)
    if name.rstrip(b"\0") == b".text":
        data[raw_pos + raw_size // 2] ^= 0x01
        open(sys.argv[2], "wb").write(data)
        sys.exit(0)
sys.exit(1)
PY
  got=$(digest_of "$changed") || return
  [ "$got" != "$want" ] || fail "a changed code byte leaves the digest at $want"
}

# The recipient's one-liner in docs/publishing.md, run as printed there, gives
# stubpack's digest: on the launcher, on a packed setup and on a copy whose
# SizeOfHeaders ends inside the section table and whose sections have no raw
# data, so that the end of the section table is where the digested bytes end.
case_docs_one_liner() {
  local code file got want short=$CASE_DIR/short-headers.exe
  code=$(sed -n "/^    python3 -c '/,/' setup.exe\$/p" "$E2E_ROOT/docs/publishing.md" |
    sed "s/^    //; 1s/^python3 -c '//; \$s/' setup.exe\$//")
  [ -n "$code" ] || { fail "no python3 one-liner in docs/publishing.md"; return; }
  python3 - "$LAUNCHER_EXE" "$short" <<'PY' || fail "cannot make short-headers.exe"
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 60)[0]
count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
table = pe + 24 + optional_size
struct.pack_into("<I", data, pe + 24 + 60, table)  # SizeOfHeaders: the section table's start
for i in range(count):
    struct.pack_into("<II", data, table + 40 * i + 16, 0, 0)
open(sys.argv[2], "wb").write(data[:0x400])
PY
  for file in "$LAUNCHER_EXE" "$E2E_DIR/setup.exe" "$short"; do
    want=$(digest_of "$file") || continue
    got=$(python3 -c "$code" "$file" 2>&1)
    [ "$got" = "$want" ] || fail "the one-liner gives $got for $(basename "$file"), stubpack $want"
  done
}

run_case "signed and packed in every form" case_signed_and_packed
run_case "the one-liner of docs/publishing.md" case_docs_one_liner
run_case "one code byte changed" case_code_byte_changed
finish
