#!/bin/bash
# stubpack.exe, the Windows build of the publisher's tool, run under Wine. It
# reads no MSI (there is no libmsi for Windows here), so every field is given
# on its command line; with the same fields it must write exactly what the
# Linux build writes, and what it writes must install.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

STUBPACK_EXE=${STUBPACK_EXE:-$(dirname "$LAUNCHER_EXE")/stubpack.exe}
FIELDS=(--msi sample/en/demo.msi --product-code "$EN_CODE" --product-name "$EN_NAME"
  --arch x64 --languages 1033 --cab sample/en/demo.cab)

# stubpack_both ARGS...: runs the Linux and the Windows stubpack with ARGS in
# the case's work folder, the Windows one writing win.exe where the Linux one
# writes linux.exe (ARGS holds @OUT@ for the output). Sets LINUX_RC, WIN_RC.
stubpack_both() {
  local -a linux=("${@//@OUT@/linux.exe}") win=("${@//@OUT@/win.exe}")
  (cd "$CASE_DIR/work" && "$STUBPACK" "${linux[@]}") >"$CASE_ARTIFACTS/linux.log" 2>&1
  LINUX_RC=$?
  (cd "$CASE_DIR/work" && in_prefix "$CASE_PREFIX" wine "$STUBPACK_EXE" "${win[@]}") \
    >"$CASE_ARTIFACTS/windows.log" 2>&1
  WIN_RC=$?
}

work_folder() {
  mkdir -p "$CASE_DIR/work"
  cp -r "$E2E_DIR/sample" "$E2E_DIR/signed.exe" "$CASE_DIR/work/"
  cp "$E2E_KEY" "$CASE_DIR/work/key.pem"
}

case_same_output_and_installs() {
  [ -f "$STUBPACK_EXE" ] || { fail "no stubpack.exe at $STUBPACK_EXE"; return; }
  work_folder
  stubpack_both pack --launcher signed.exe --key key.pem --out @OUT@ "${FIELDS[@]}"
  [ "$LINUX_RC" = 0 ] || fail "Linux stubpack pack exited $LINUX_RC"
  [ "$WIN_RC" = 0 ] || fail "stubpack.exe pack exited $WIN_RC"
  cmp -s "$CASE_DIR/work/linux.exe" "$CASE_DIR/work/win.exe" ||
    fail "stubpack.exe wrote other bytes than the Linux build"

  (cd "$CASE_DIR/work" && in_prefix "$CASE_PREFIX" wine "$STUBPACK_EXE" inspect win.exe) \
    >"$CASE_ARTIFACTS/inspect.log" 2>&1 || fail "stubpack.exe inspect does not accept its own output"

  e2e_case "$CASE_DIR/work/win.exe"
  run_probe "$CASE_PREFIX" -- 'C:\setup\win.exe' /qn
  assert_exit 0
  assert_registered "$EN_CODE" "$EN_NAME"
}

# Without libmsi the fields cannot be read from the package: refused, and
# nothing is written.
case_refuses_missing_fields() {
  [ -f "$STUBPACK_EXE" ] || { fail "no stubpack.exe at $STUBPACK_EXE"; return; }
  work_folder
  (cd "$CASE_DIR/work" && in_prefix "$CASE_PREFIX" wine "$STUBPACK_EXE" pack \
    --launcher signed.exe --key key.pem --out win.exe --msi sample/en/demo.msi) \
    >"$CASE_ARTIFACTS/windows.log" 2>&1 && fail "stubpack.exe packed a package without its fields"
  [ ! -e "$CASE_DIR/work/win.exe" ] || fail "stubpack.exe left win.exe behind"
}

run_case "stubpack.exe writes what the Linux build writes, and it installs" \
  case_same_output_and_installs
run_case "stubpack.exe refuses a package without its fields" case_refuses_missing_fields
finish
