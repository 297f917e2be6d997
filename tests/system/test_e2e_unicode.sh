#!/bin/bash
# Text the ANSI code page cannot hold, on a Western system (en_US.UTF-8, code
# page 1252): arguments reach msiexec exactly as typed, and a launcher kept in
# a folder with a Cyrillic name reads itself and installs.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

# A full-width quotation mark (U+FF02) inside a quoted property: code page
# 1252 maps it to '"' by best fit, which would end the property and hand
# msiexec a log switch of its own. As typed it is one property's value: no
# log file appears and the product installs.
case_full_width_quote() {
  e2e_case
  SYSTEST_LOCALE=en_US.UTF-8 run_probe "$CASE_PREFIX" --raw -- 'C:\setup\setup.exe' /qn \
    '"P=＂ /l*v C:\x.log ＂"'
  assert_exit 0
  assert_registered "$EN_CODE" "$EN_NAME"
  assert_file 'C:\Program Files\Demo\readme.txt' 'This is the sample product'
  assert_absent 'C:\x.log'
}

# A folder name in Cyrillic letters, which code page 1252 would turn into
# '?': the product is installed there.
case_cyrillic_folder() {
  e2e_case
  SYSTEST_LOCALE=en_US.UTF-8 run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn \
    'INSTALLDIR=C:\Про\Demo'
  assert_exit 0
  assert_registered "$EN_CODE"
  assert_file 'C:\Про\Demo\readme.txt' 'This is the sample product'
  assert_file 'C:\Про\Demo\version.txt'
  assert_absent 'C:\Program Files\Demo'
}

# The launcher in C:\Пётр: its ANSI path has '?' in place of the letters, so
# only its UTF-16 path opens its own file.
case_launcher_in_cyrillic_folder() {
  rm -f "$CASE_PREFIX/dosdevices/z:"
  mkdir -p "$CASE_PREFIX/drive_c/Пётр"
  cp -- "$E2E_DIR/setup.exe" "$CASE_PREFIX/drive_c/Пётр/" || fail "cannot copy setup.exe"
  SYSTEST_LOCALE=en_US.UTF-8 run_probe "$CASE_PREFIX" -- 'C:\Пётр\setup.exe' /qn
  assert_exit 0
  assert_registered "$EN_CODE" "$EN_NAME"
  assert_file 'C:\Program Files\Demo\readme.txt' 'This is the sample product'
}

run_case "full-width quotation mark stays in its property" case_full_width_quote
run_case "INSTALLDIR with Cyrillic letters" case_cyrillic_folder
run_case "launcher in a Cyrillic folder" case_launcher_in_cyrillic_folder
finish
