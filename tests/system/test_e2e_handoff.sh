#!/bin/bash
# The elevated hand-off against another process of the user. A stand-in
# msiexec.exe (fixture_msiexec.exe) first plays that process, trying to
# replace main.msi or to move the product folder, then records what it read;
# links put where the product folder goes must never lead the launcher to
# write or delete elsewhere; a start folder named in the user's registry is
# never created. Under Wine nothing is refused for lack of rights (it keeps
# no ACLs), so what is shown here is what share modes, the pinned folder and
# the launcher's own checks do.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

EN_CACHE="C:\\windows\\Installer\\$EN_CODE"
CHOSEN='C:\Extract Here'
GOOD='C:\Good'
SHELL_FOLDERS='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'

# standin_case [SETUP]: an e2e case whose msiexec.exe is the stand-in.
standin_case() {
  e2e_case "$@"
  local msiexec=$CASE_PREFIX/drive_c/windows/system32/msiexec.exe
  # The prefix shares its programs with the pristine one through hard links:
  # the name is replaced, never written through.
  rm -f "$msiexec" && cp "$FIXTURE_DIR/fixture_msiexec.exe" "$msiexec" ||
    fail "cannot put the stand-in msiexec.exe in place"
}

# run_standin HOSTILE EXIT PROBE-ARGS...: runs the probe with the stand-in
# playing HOSTILE ("replace", "move" or "") and exiting with EXIT.
run_standin() {
  local hostile=$1 code=$2
  shift 2
  STANDIN_HOSTILE=$hostile STANDIN_EXIT=$code \
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msiexec.exe=n" run_probe "$CASE_PREFIX" "$@"
}

assert_logged() {
  grep -qxF -- "$1" "$(hostpath 'C:\standin\log.txt')" 2>/dev/null ||
    fail "the stand-in did not log '$1': $(tr '\n' '|' <"$(hostpath 'C:\standin\log.txt')" 2>/dev/null)"
}

# block_first_folder: a file where C:\windows\Installer\{code} would be, and
# the folders the browser is answered with.
block_first_folder() {
  local blocked
  blocked=$(hostpath "$EN_CACHE")
  mkdir -p "$(dirname "$blocked")" "$(hostpath "$CHOSEN")" "$(hostpath "$GOOD")" &&
    echo 'not a folder' >"$blocked" || fail "cannot block $EN_CACHE"
}

# Another process tries to write into main.msi, to delete it and to rename it
# once the launcher has written and verified it: every attempt is refused,
# and msiexec reads the verified package and cabinet.
check_replace_refused() {
  local folder=$1
  assert_exit 0
  assert_logged 'replace write refused 32'
  assert_logged 'replace delete refused 32'
  assert_logged 'replace rename refused 32'
  assert_logged 'read main.msi done'
  assert_same_file 'C:\standin\main.msi' "$E2E_DIR/sample/en/demo.msi"
  assert_same_file 'C:\standin\demo.cab' "$E2E_DIR/sample/en/demo.cab"
  assert_same_file "$folder\\main.msi" "$E2E_DIR/sample/en/demo.msi"
}

case_replace_default() {
  standin_case
  run_standin replace 0 -- 'C:\setup\setup.exe' /qn
  check_replace_refused "$EN_CACHE"
}

case_replace_chosen() {
  standin_case
  block_first_folder
  run_standin replace 0 --browse "$CHOSEN" -- 'C:\setup\setup.exe' /qn
  check_replace_refused "$CHOSEN\\$EN_CODE"
}

# An identical main.msi found in the folder is kept, and held from the
# moment it is compared.
case_replace_kept() {
  standin_case
  local cache
  cache=$(hostpath "$EN_CACHE")
  mkdir -p "$cache" && cp "$E2E_DIR/sample/en/demo.msi" "$cache/main.msi" ||
    fail "cannot put an identical main.msi in place"
  run_standin replace 0 -- 'C:\setup\setup.exe' /qn
  check_replace_refused "$EN_CACHE"
}

# The product folder cannot be moved aside while msiexec runs.
case_move_folder() {
  standin_case
  run_standin move 0 -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_logged 'move folder refused 32'
  assert_same_file "$EN_CACHE\\main.msi" "$E2E_DIR/sample/en/demo.msi"
  assert_absent "$EN_CACHE.moved"
}

# <chosen>\{code} is a link (under Wine a Unix symbolic link, which Windows
# programs see only through the final path of a handle) to C:\victim, which
# holds files of the same names. The launcher refuses it, asks again, and
# nothing in C:\victim is written or deleted, however the run ends.
link_case() {
  standin_case "$@"
  block_first_folder
  local victim=$CASE_PREFIX/drive_c/victim
  mkdir -p "$victim" && echo 'victim package' >"$victim/main.msi" &&
    echo 'victim cabinet' >"$victim/demo.cab" &&
    ln -s ../victim "$(hostpath "$CHOSEN")/$EN_CODE" || fail "cannot make the link"
}

check_victim() {
  local victim=$CASE_PREFIX/drive_c/victim
  [ "$(cat "$victim/main.msi" 2>/dev/null)" = 'victim package' ] ||
    fail 'C:\victim\main.msi was changed or deleted'
  [ "$(cat "$victim/demo.cab" 2>/dev/null)" = 'victim cabinet' ] ||
    fail 'C:\victim\demo.cab was changed or deleted'
  [ -L "$(hostpath "$CHOSEN")/$EN_CODE" ] || fail 'the link was removed'
}

case_link_installed() {
  link_case
  run_standin '' 0 --browse "$CHOSEN" --browse "$GOOD" -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_line "BROWSER selected=$GOOD"
  assert_same_file "$GOOD\\$EN_CODE\\main.msi" "$E2E_DIR/sample/en/demo.msi"
  check_victim
}

case_link_failed() {
  link_case
  run_standin '' 1603 --browse "$CHOSEN" --browse "$GOOD" -- 'C:\setup\setup.exe' /qn
  assert_exit 1603
  assert_absent "$GOOD\\$EN_CODE"
  check_victim
}

case_link_bad_block() {
  local bad=$CASE_DIR/bad/setup.exe
  mkdir -p "$CASE_DIR/bad" &&
    python3 "$PAYLOAD_BLOCKS" flip "$E2E_DIR/setup.exe" "$bad" file:1001 signature >/dev/null ||
    fail 'cannot make a setup whose cabinet block is bad'
  link_case "$bad"
  run_standin '' 0 --browse "$CHOSEN" --browse "$GOOD" -- 'C:\setup\setup.exe' /qn
  assert_exit 13
  [ -f "$(hostpath 'C:\standin\log.txt')" ] && fail 'msiexec ran'
  assert_absent "$GOOD\\$EN_CODE"
  check_victim
}

# The user cancels the browser that comes after the refusal.
case_link_cancelled() {
  link_case
  run_standin '' 0 --browse "$CHOSEN" --browse-cancel -- 'C:\setup\setup.exe' /qn
  assert_exit 1223
  assert_line 'BROWSER cancelled'
  [ -f "$(hostpath 'C:\standin\log.txt')" ] && fail 'msiexec ran'
  check_victim
}

# A start folder named in the user's registry that does not exist is not
# created: the browser opens without one, and the user picks a folder.
case_start_folder() {
  standin_case
  block_first_folder
  in_prefix "$CASE_PREFIX" wine reg add "$SHELL_FOLDERS" /v Personal /t REG_EXPAND_SZ \
    /d 'C:\windows\system32\made\deeper' /f >/dev/null 2>&1 || fail 'cannot set Personal'
  in_prefix "$CASE_PREFIX" wineserver -w
  run_standin '' 0 --browse "$CHOSEN" -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_absent 'C:\windows\system32\made'
}

run_case "replace main.msi in the installer cache" case_replace_default
run_case "replace main.msi in a chosen folder" case_replace_chosen
run_case "replace a kept identical main.msi" case_replace_kept
run_case "move the product folder while msiexec runs" case_move_folder
run_case "link as product folder, installer exits 0" case_link_installed
run_case "link as product folder, installer exits 1603" case_link_failed
run_case "link as product folder, last block bad" case_link_bad_block
run_case "link as product folder, user cancels" case_link_cancelled
run_case "start folder from the registry not created" case_start_folder
finish
