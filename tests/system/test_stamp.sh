#!/bin/bash
# The real launcher's key section. A copy stamped with a new key keeps the
# launcher's image digest (stubpack's and the docs' one-liner alike) and
# trusts that key only; with no key in its section, the launcher refuses a
# payload under Wine with 0x80090003 (NTE_BAD_KEY) and text 101.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

# The docs' one-liner, as printed in docs/publishing.md.
one_liner() {
  local code
  code=$(sed -n "/^    python3 -c '/,/' setup.exe\$/p" "$E2E_ROOT/docs/publishing.md" |
    sed "s/^    //; 1s/^python3 -c '//; \$s/' setup.exe\$//")
  python3 -c "$code" "$1" 2>&1
}

case_stamped_digest() {
  local want got fingerprint
  "$STUBPACK" keygen --out "$CASE_DIR/keys" >"$CASE_ARTIFACTS/keygen.log" 2>&1 ||
    { fail "keygen fails"; return; }
  "$STUBPACK" stamp --launcher "$LAUNCHER_EXE" --key "$CASE_DIR/keys/public.pem" \
    --out "$CASE_DIR/stamped.exe" >"$CASE_ARTIFACTS/stamp.log" 2>&1 ||
    { fail "stamp fails: $(tail -n1 "$CASE_ARTIFACTS/stamp.log")"; return; }
  cmp -s "$LAUNCHER_EXE" "$CASE_DIR/stamped.exe" && fail "stamping changed nothing"
  want=$("$STUBPACK" digest "$LAUNCHER_EXE")
  got=$("$STUBPACK" digest "$CASE_DIR/stamped.exe")
  [ "$got" = "$want" ] || fail "the stamped copy has digest $got, the launcher $want"
  got=$(one_liner "$CASE_DIR/stamped.exe")
  [ "$got" = "$want" ] || fail "the one-liner gives $got for the stamped copy, stubpack $want"
  # inspect shows both; pack takes the new key and refuses the development key.
  "$STUBPACK" pack --launcher "$CASE_DIR/stamped.exe" --key "$CASE_DIR/keys/private.pem" \
    --out "$CASE_DIR/setup.exe" --msi "$E2E_DIR/sample/en/demo.msi" \
    >"$CASE_ARTIFACTS/pack.log" 2>&1 || fail "pack with the stamped key fails"
  "$STUBPACK" inspect "$CASE_DIR/setup.exe" >"$CASE_ARTIFACTS/inspect.txt" 2>&1 ||
    fail "inspect of the setup fails"
  fingerprint=$(grep -m1 -o 'with the key [0-9a-f]*' "$CASE_ARTIFACTS/stamp.log" | cut -d' ' -f4)
  grep -q "^digest: *$want " "$CASE_ARTIFACTS/inspect.txt" || fail "inspect shows another digest"
  grep -q "^key: *$fingerprint " "$CASE_ARTIFACTS/inspect.txt" ||
    fail "inspect does not show the key $fingerprint"
  ! "$STUBPACK" pack --launcher "$CASE_DIR/stamped.exe" --key "$E2E_KEY" \
    --out "$CASE_DIR/other.exe" --msi "$E2E_DIR/sample/en/demo.msi" \
    >>"$CASE_ARTIFACTS/pack.log" 2>&1 || fail "pack with another key than the stamped one works"
}

# An unsigned setup packed with the development key, then its key section
# emptied as in a launcher built without a key.
case_no_key() {
  "$STUBPACK" pack --launcher "$LAUNCHER_EXE" --key "$E2E_KEY" --out "$CASE_DIR/setup.exe" \
    --msi "$E2E_DIR/sample/en/demo.msi" >"$CASE_ARTIFACTS/pack.log" 2>&1 ||
    { fail "pack fails"; return; }
  python3 - "$CASE_DIR/setup.exe" <<'PY' || fail "no key section in the launcher"
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 60)[0]
count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
table = pe + 24 + optional_size
for i in range(count):
    if data[table + 40 * i:table + 40 * i + 8] == b".msikey\0":
        raw_size, raw_pos = struct.unpack_from("<II", data, table + 40 * i + 16)
        data[raw_pos + 6:raw_pos + 8 + 276] = bytes(278)  # key size 0, no key
        open(sys.argv[1], "wb").write(data)
        sys.exit(0)
sys.exit(1)
PY
  "$STUBPACK" inspect "$CASE_DIR/setup.exe" >"$CASE_ARTIFACTS/inspect.txt" 2>&1 &&
    fail "inspect passes a launcher without a key"
  grep -q "^key: *no key" "$CASE_ARTIFACTS/inspect.txt" || fail "inspect does not say 'no key'"
  e2e_case "$CASE_DIR/setup.exe"
  run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit 2148073475
  assert_not_registered "$EN_CODE"
  run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe'
  assert_exit 2148073475
  assert_box_text "$TEXT_101"
}

run_case "a stamped copy keeps the digest and trusts its key" case_stamped_digest
run_case "no key: the payload is refused" case_no_key
finish
