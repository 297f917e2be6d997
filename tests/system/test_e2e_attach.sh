#!/bin/bash
# Both ways stubpack attaches a payload to a signed launcher give a setup.exe
# whose Authenticode signature still verifies (osslsigncode verify against
# the throwaway certificate) and that installs the product under Wine:
#   appended:    sign the launcher, then pack the payload behind the PKCS#7
#                data in its certificate table;
#   certificate: pack the payload into a certificate, then sign the launcher
#                with that certificate added to the signature.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

# attached FILE WHERE: the signature of FILE verifies, stubpack inspect finds
# everything it needs with the payload WHERE, and FILE installs the product.
attached() {
  local file=$E2E_DIR/$1 where=$2 out=$CASE_ARTIFACTS/verify.txt
  osslsigncode verify -CAfile "$E2E_DIR/sign.crt" -in "$file" >"$out" 2>&1 ||
    fail "osslsigncode verify fails on $1: $(grep -m1 -iE 'fail|error|mismatch' "$out")"
  out=$CASE_ARTIFACTS/inspect.txt
  "$STUBPACK" inspect "$file" >"$out" 2>&1 || fail "stubpack inspect fails on $1 (see inspect.txt)"
  grep -q "^payload: *$where" "$out" || fail "stubpack inspect: $(grep -m1 '^payload:' "$out")"
  e2e_case "$file"
  run_probe "$CASE_PREFIX" -- "C:\\setup\\$1" /qn
  assert_exit 0
  assert_registered "$EN_CODE" "$EN_NAME"
  assert_file 'C:\Program Files\Demo\readme.txt' 'This is the sample product'
  assert_file "C:\\windows\\Installer\\$EN_CODE\\demo.cab"
}

case_appended() {
  attached setup.exe 'payload inside the certificate table, after the signature'
  # The check has teeth: a byte of the signed image changed fails it.
  local broken=$CASE_DIR/broken.exe
  python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[4096] ^= 0xFF
open(sys.argv[2], "wb").write(b)' "$E2E_DIR/setup.exe" "$broken"
  ! osslsigncode verify -CAfile "$E2E_DIR/sign.crt" -in "$broken" >/dev/null 2>&1 ||
    fail "osslsigncode verify passes a changed image"
}

case_certificate() {
  attached setup-cert.exe 'payload in a certificate of the signature'
}

run_case "appended to a signed launcher" case_appended
run_case "in a certificate of the signature" case_certificate
finish
