#!/bin/bash
# What goes wrong ends as documented: an installer that fails hands its exit
# code through, silently, and leaves nothing extracted; a setup.exe whose
# payload was tampered with installs nothing, extracts nothing, and ends with
# the documented code and, unless quiet, the "corrupted" message (text 101).
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

FAIL_TEXT='This package fails on purpose.'

# nothing_left CODE: no trace of the product CODE: not registered, nothing in
# its cache folder or under Program Files, no main.msi anywhere on C:.
nothing_left() {
  assert_not_registered "$1"
  assert_absent "C:\\windows\\Installer\\$1"
  assert_absent 'C:\Program Files\Demo'
  assert_absent 'C:\Program Files\DemoFail'
  local left
  left=$(find "$CASE_PREFIX/drive_c" -iname main.msi -print -quit)
  [ -z "$left" ] || fail "an extracted package is left: $left"
}

# The failing package ends msiexec with 1603: the launcher exits with 1603,
# shows nothing of its own, deletes main.msi and fail.cab and removes the
# folder it made for them.
case_installer_fails_quiet() {
  e2e_case "$E2E_DIR/setup-fail.exe"
  run_probe "$CASE_PREFIX" -- 'C:\setup\setup-fail.exe' /qn
  assert_exit 1603
  assert_no_box
  assert_window "$PROGRESS_CLASS" "$FAIL_NAME"
  nothing_left "$FAIL_CODE"
}

# Without /qn the installer shows its own error (answered with OK); the
# launcher still adds no message of its own.
case_installer_fails_loud() {
  e2e_case "$E2E_DIR/setup-fail.exe"
  run_probe "$CASE_PREFIX" -- 'C:\setup\setup-fail.exe'
  assert_exit 1603
  assert_box_text "$FAIL_TEXT"
  assert_box_count 1
  ! grep -qxF 'BOX caption=setup-fail.exe' "$PROBE_LOG" || fail "the launcher showed a message"
  nothing_left "$FAIL_CODE"
}

# Tampered copies of setup.exe (signed, en + de), each as tampered/NAME/setup.exe
# so that the user sees the usual file name; the offsets come from the block
# trailers (payload_blocks.py).
TAMPERED=$E2E_DIR/tampered
make_tampered() {
  [ -d "$TAMPERED" ] && return 0
  local new=$TAMPERED.new setup=$E2E_DIR/setup.exe
  rm -rf "$new"
  mkdir -p "$new"/{file-data,file-signature,manifest-data,manifest-signature,empty-block} &&
    python3 "$PAYLOAD_BLOCKS" flip "$setup" "$new/file-data/setup.exe" file:1000 data &&
    python3 "$PAYLOAD_BLOCKS" flip "$setup" "$new/file-signature/setup.exe" file:1000 signature &&
    python3 "$PAYLOAD_BLOCKS" flip "$setup" "$new/manifest-data/setup.exe" manifest data &&
    python3 "$PAYLOAD_BLOCKS" flip "$setup" "$new/manifest-signature/setup.exe" manifest signature &&
    python3 "$PAYLOAD_BLOCKS" append-empty "$setup" "$new/empty-block/setup.exe" 1000 \
      "$E2E_DIR/sample/de/demo.msi" &&
    mv "$new" "$TAMPERED"
}

# tampered NAME CODE [SHOT]: runs the tampered copy NAME quietly (exit CODE,
# nothing shown at all) and then without a quiet switch (exit CODE after the
# box with text 101, captioned with the file name); neither run leaves
# anything of either product.
tampered() {
  local name=$1 code=$2 shot=${3:-}
  make_tampered >"$CASE_DIR/tamper.log" 2>&1 ||
    { fail "cannot make the tampered copies: $(tail -n1 "$CASE_DIR/tamper.log")"; return; }
  e2e_case "$TAMPERED/$name/setup.exe"
  run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit "$code"
  assert_no_window
  run_probe "$CASE_PREFIX" ${shot:+--shot "#32770=$shot"} -- 'C:\setup\setup.exe'
  assert_exit "$code"
  assert_box_caption setup.exe
  assert_box_text "$TEXT_101"
  assert_box_count 1
  if [ -n "$shot" ]; then assert_screenshot "$shot" && trim_screenshot "$shot"; fi
  nothing_left "$EN_CODE"
  nothing_left "$DE_CODE"
}

# A byte of the English package's compressed data: its block no longer
# decodes ({13, 691}), so the chosen package cannot be extracted: {13, 2151}.
case_file_data() { tampered file-data 13 error-box; }
# A byte of that block's signature: {1392, 732}, again {13, 2151}.
case_file_signature() { tampered file-signature 13; }
# A byte of the manifest's compressed data: the payload does not load,
# {13, 551}.
case_manifest_data() { tampered manifest-data 13; }
# A byte of the manifest's signature: the payload does not load, {1392, 592}.
case_manifest_signature() { tampered manifest-signature 1392; }
# A file block 1000 without data, holding the German package where its
# signature would be, appended behind the genuine payload: the launcher
# finds it first and refuses it ({1392, 662}) instead of taking the
# unverified bytes as main.msi: {13, 2151}.
case_empty_block() { tampered empty-block 13; }

# The last byte of the 128 MiB block's data in the big setup (the end of its
# stream's checksum): the block is found bad only once all of it has been
# written, long after the progress window showed. The launch still ends with
# {13, 2151} and one message, and nothing that was written stays.
case_late_failure() {
  local big=$CASE_DIR/late/setup.exe
  mkdir -p "$CASE_DIR/late"
  python3 "$PAYLOAD_BLOCKS" flip "$E2E_DIR/setup-big.exe" "$big" file:1002 data-end \
    >"$CASE_DIR/tamper.log" 2>&1 ||
    { fail "cannot make the tampered copy: $(tail -n1 "$CASE_DIR/tamper.log")"; return; }
  e2e_case "$big"
  rm -f "$big"
  run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe'
  assert_exit 13
  assert_window "$PROGRESS_CLASS" "$EN_NAME"
  assert_box_caption setup.exe
  assert_box_text "$TEXT_101"
  assert_box_count 1
  nothing_left "$EN_CODE"
}

run_case "installer fails, quiet" case_installer_fails_quiet
run_case "installer fails, its own message" case_installer_fails_loud
run_case "tampered file block data" case_file_data
run_case "tampered file block signature" case_file_signature
run_case "tampered manifest data" case_manifest_data
run_case "tampered manifest signature" case_manifest_signature
run_case "data-less file block appended" case_empty_block
run_case "big block found bad after the window showed" case_late_failure
finish
