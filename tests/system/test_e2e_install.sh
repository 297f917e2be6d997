#!/bin/bash
# A signed setup.exe packed by stubpack with the sample product installs it
# under Wine's own msiexec, as a user would run it: exit code 0, the product
# registered, its files in place, and the extracted package and cabinet kept
# in the installer cache; arguments reach msiexec; the progress window shows
# the product name while the files are written.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

EN_CACHE="C:\\windows\\Installer\\$EN_CODE"

# The main path: package and cabinet written as main.msi and demo.cab into
# the installer cache, msiexec run on them; the product registers, so they
# stay. Nothing is shown but the progress window.
case_success() {
  e2e_case
  run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_no_box
  assert_window "$PROGRESS_CLASS" "$EN_NAME"
  assert_registered "$EN_CODE" "$EN_NAME"
  assert_file 'C:\Program Files\Demo\readme.txt' 'This is the sample product'
  assert_file 'C:\Program Files\Demo\version.txt' 'Demo 1.0.0'
  assert_same_file "$EN_CACHE\\main.msi" "$E2E_DIR/sample/en/demo.msi"
  assert_same_file "$EN_CACHE\\demo.cab" "$E2E_DIR/sample/en/demo.cab"
}

# INSTALLDIR="C:\Some Dir\Demo" typed on the launcher's command line (kept
# raw, so the launcher splits it itself and drops the quotes) reaches msiexec
# as one property and moves the installation.
case_pass_through() {
  e2e_case
  run_probe "$CASE_PREFIX" --raw -- 'C:\setup\setup.exe' /qn 'INSTALLDIR="C:\Some Dir\Demo"'
  assert_exit 0
  assert_registered "$EN_CODE"
  assert_file 'C:\Some Dir\Demo\readme.txt' 'This is the sample product'
  assert_file 'C:\Some Dir\Demo\version.txt'
  assert_absent 'C:\Program Files\Demo'
}

# With 128 MiB more to write the progress window stays up long enough to be
# photographed (the probe holds the program still for the shot), titled with
# the product name; the big file arrives whole and is kept with the others.
case_progress_window() {
  e2e_case "$E2E_DIR/setup-big.exe"
  run_probe "$CASE_PREFIX" --shot "$PROGRESS_CLASS=progress" -- 'C:\setup\setup-big.exe' /qn
  assert_exit 0
  assert_window "$PROGRESS_CLASS" "$EN_NAME"
  assert_screenshot progress && trim_screenshot progress
  assert_registered "$EN_CODE"
  assert_same_file "$EN_CACHE\\filler.bin" "$E2E_DIR/filler.bin"
  assert_same_file "$EN_CACHE\\main.msi" "$E2E_DIR/sample/en/demo.msi"
}

run_case "install, extracted files kept" case_success
run_case "INSTALLDIR passed through" case_pass_through
run_case "progress window" case_progress_window
finish
