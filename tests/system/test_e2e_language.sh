#!/bin/bash
# One setup.exe carries the English (1033) and the German (1031) build of the
# sample product; Wine started with the user's locale decides which one the
# launcher installs. A locale with no package of its own (Japanese, 1041)
# falls back to English.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

# install_in LOCALE CODE NAME README_TEXT OTHER_CODE: runs setup.exe /qn with
# LOCALE and checks that exactly the package CODE was chosen: the progress
# window's title, the registration, the installed text, the cache folder.
install_in() {
  local locale=$1 code=$2 name=$3 text=$4 other=$5
  e2e_case
  SYSTEST_LOCALE=$locale run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_window "$PROGRESS_CLASS" "$name"
  assert_registered "$code" "$name"
  assert_not_registered "$other"
  assert_file 'C:\Program Files\Demo\readme.txt' "$text"
  assert_file "C:\\windows\\Installer\\$code\\main.msi"
  assert_absent "C:\\windows\\Installer\\$other"
}

case_german() {
  install_in de_DE.UTF-8 "$DE_CODE" "$DE_NAME" 'Dies ist das Beispielprodukt' "$EN_CODE"
}
case_english() {
  install_in en_US.UTF-8 "$EN_CODE" "$EN_NAME" 'This is the sample product' "$DE_CODE"
}
case_japanese() {
  install_in ja_JP.UTF-8 "$EN_CODE" "$EN_NAME" 'This is the sample product' "$DE_CODE"
}

run_case "German locale gets 1031" case_german
run_case "English locale gets 1033" case_english
run_case "Japanese locale falls back to 1033" case_japanese
finish
