#!/bin/bash
# A setup program usually runs elevated from a downloads folder, where anyone
# may have left files. Neither a DLL nor an msiexec.exe planted beside it may
# be loaded or run. Each case first shows, with the same planted file, that
# the plant works in this Wine (a plain program does load the DLL; the planted
# program does leave its marker), so that a clean run of the launcher means
# something.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

# Wine prefers its own DLLs; this lets it take a native one where a program's
# search finds it, as Windows would.
PLANT_OVERRIDES="$WINEDLLOVERRIDES;crypt32=n,b"

assert_marker() {
  [ -e "$(hostpath "C:\\planted\\$1.txt")" ] || fail "no marker: the planted $1 was not loaded"
}

assert_no_marker() {
  [ ! -e "$(hostpath "C:\\planted\\$1.txt")" ] || fail "the planted $1 was loaded or run"
}

# crypt32.dll is loaded at run time to read the signature's certificates; the
# launcher must take it from System32 only.
case_planted_dll() {
  e2e_case "$E2E_DIR/setup.exe" "$FIXTURE_DIR/fixture_loadlib.exe"
  cp "$FIXTURE_DIR/planted.dll" "$CASE_PREFIX/drive_c/setup/crypt32.dll"
  WINEDLLOVERRIDES=$PLANT_OVERRIDES run_probe "$CASE_PREFIX" -- \
    'C:\setup\fixture_loadlib.exe' crypt32.dll
  assert_exit 0
  assert_marker crypt32.dll
  rm -rf "$(hostpath 'C:\planted')"

  WINEDLLOVERRIDES=$PLANT_OVERRIDES run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_no_marker crypt32.dll
  assert_registered "$EN_CODE" "$EN_NAME"
}

# msiexec.exe beside the launcher, or in its current folder, is never run: the
# installer comes from the system folder.
case_planted_msiexec() {
  e2e_case
  cp "$FIXTURE_DIR/planted.exe" "$CASE_PREFIX/drive_c/setup/msiexec.exe"
  run_probe "$CASE_PREFIX" -- 'C:\setup\msiexec.exe'
  assert_exit 1603
  assert_marker msiexec.exe
  rm -rf "$(hostpath 'C:\planted')"

  run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_no_marker msiexec.exe
  assert_registered "$EN_CODE" "$EN_NAME"
}

# An OpenSSL configuration that enables only the "null" provider makes every
# hash fail. The launcher's libcrypto must not read any configuration, from
# OPENSSL_CONF or from a default folder a user could create.
case_planted_openssl_config() {
  e2e_case
  mkdir -p "$CASE_PREFIX/drive_c/planted"
  printf '%s\n' 'openssl_conf = openssl_init' '[openssl_init]' 'providers = provider_sect' \
    '[provider_sect]' 'null = null_sect' '[null_sect]' 'activate = 1' \
    >"$CASE_PREFIX/drive_c/planted/openssl.cnf"
  OPENSSL_CONF='C:\planted\openssl.cnf' run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_registered "$EN_CODE" "$EN_NAME"
}

run_case "DLL planted beside the launcher is not loaded" case_planted_dll
run_case "OpenSSL configuration is never read" case_planted_openssl_config
run_case "msiexec.exe planted beside the launcher is not run" case_planted_msiexec
finish
