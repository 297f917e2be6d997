#!/bin/bash
# When the first extraction folder, C:\windows\Installer\{product code},
# cannot be used (here a file of that name stands in the way), the launcher
# asks for a folder with the shell's folder browser: the chosen folder gets
# the product-code folder with the package and its cabinet, and the product
# installs from there; cancelling ends silently with 1223 and leaves nothing.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

BLOCKED="C:\\windows\\Installer\\$EN_CODE"

# block_first_folder: puts a file where the first extraction folder would
# be, and makes the folder the test chooses.
block_first_folder() {
  e2e_case
  local blocked
  blocked=$(hostpath "$BLOCKED")
  mkdir -p "$(dirname "$blocked")" "$CASE_PREFIX/drive_c/Extract Here" &&
    echo 'not a folder' >"$blocked" || fail "cannot block $BLOCKED"
}

# still_blocked: the file in the way is untouched and nothing went beside it.
still_blocked() {
  [ "$(cat "$(hostpath "$BLOCKED")" 2>/dev/null)" = 'not a folder' ] || fail "$BLOCKED was changed"
}

case_chosen_folder() {
  block_first_folder
  run_probe "$CASE_PREFIX" --shot '#32770=browser' --browse 'C:\Extract Here' -- \
    'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_line "BROWSER title=$TEXT_102"
  assert_line 'BROWSER selected=C:\Extract Here'
  assert_box_count 0
  assert_screenshot browser && trim_screenshot browser
  assert_registered "$EN_CODE" "$EN_NAME"
  assert_file 'C:\Program Files\Demo\readme.txt' 'This is the sample product'
  assert_same_file "C:\\Extract Here\\$EN_CODE\\main.msi" "$E2E_DIR/sample/en/demo.msi"
  assert_same_file "C:\\Extract Here\\$EN_CODE\\demo.cab" "$E2E_DIR/sample/en/demo.cab"
  still_blocked
}

case_cancelled() {
  block_first_folder
  run_probe "$CASE_PREFIX" --browse-cancel -- 'C:\setup\setup.exe'
  assert_exit 1223
  assert_line 'BROWSER cancelled'
  assert_box_count 0
  assert_not_registered "$EN_CODE"
  still_blocked
  local left
  left=$(find "$CASE_PREFIX/drive_c" \( -iname main.msi -o -iname demo.cab \) -print -quit)
  [ -z "$left" ] || fail "an extracted file is left: $left"
}

run_case "first folder blocked, folder chosen" case_chosen_folder
run_case "first folder blocked, browser cancelled" case_cancelled
finish
