#!/bin/bash
# What the launcher writes into the product folder and hands to msiexec: only
# bytes that verified against its key, only under the names the manifest
# gives, and those names never outside the folder, whatever the code page.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

EN_CACHE="C:\\windows\\Installer\\$EN_CODE"

# Setups made from the shared inputs, once per run, in $CRAFTED:
#   outside/setup.exe   the unsigned launcher with a payload signed with the
#                       development key whose cabinet entry names
#                       ../../../victim.txt (stubpack refuses to pack that)
#   kanji/setup.exe     the signed launcher packed by stubpack with a copy of
#                       the English package whose Media table names its
#                       cabinet 表.cab (code page 932: 0x95 0x5C, a trail byte
#                       that is a backslash), and that cabinet
CRAFTED=$E2E_DIR/extraction
make_crafted() {
  [ -d "$CRAFTED" ] && return 0
  local new=$CRAFTED.new en=$E2E_DIR/sample/en
  rm -rf "$new"
  mkdir -p "$new"/{outside,kanji,kanji-msi} &&
    python3 "$PAYLOAD_BLOCKS" append-signed "$LAUNCHER_EXE" "$new/outside/setup.exe" "$E2E_KEY" \
      1000 "x64\\1033\\$EN_CODE\\$EN_NAME" "$en/demo.msi" \
      1001 'cab\1000\../../../victim.txt' "$en/demo.cab" &&
    cp "$en/demo.msi" "$new/kanji-msi/demo.msi" &&
    cp "$en/demo.cab" "$new/kanji-msi/表.cab" &&
    printf '\r\n\r\n932\t_ForceCodepage\r\n' >"$new/kanji-msi/_ForceCodepage.idt" &&
    (cd "$new/kanji-msi" && msibuild demo.msi -i _ForceCodepage.idt &&
      msibuild demo.msi -q "UPDATE \`Media\` SET \`Cabinet\`='表.cab' WHERE \`DiskId\`=1") &&
    "$STUBPACK" pack --launcher "$E2E_DIR/signed.exe" --key "$E2E_KEY" \
      --out "$new/kanji/setup.exe" --msi "$new/kanji-msi/demo.msi" &&
    mv "$new" "$CRAFTED"
}

crafted_case() {
  make_crafted >"$CASE_DIR/crafted.log" 2>&1 ||
    { fail "cannot make the crafted setups: $(tail -n1 "$CASE_DIR/crafted.log")"; return 1; }
  e2e_case "$CRAFTED/$1/setup.exe"
}

# An empty main.msi in the product folder, as a run that failed or was
# cancelled may leave it, is not what the payload holds: it is replaced with
# the verified package, and the product installs.
case_stale_package() {
  e2e_case
  local cache
  cache=$(hostpath "$EN_CACHE")
  { mkdir -p "$cache" && : >"$cache/main.msi"; } || fail "cannot leave an empty main.msi"
  run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_registered "$EN_CODE" "$EN_NAME"
  assert_file 'C:\Program Files\Demo\readme.txt' 'This is the sample product'
  assert_same_file "$EN_CACHE\\main.msi" "$E2E_DIR/sample/en/demo.msi"
}

# A main.msi that is a hard link to a file outside the product folder (one
# file with two names) is replaced by a file of its own: the package is never
# written into the file the link shares, which keeps its bytes.
case_linked_package() {
  e2e_case
  local cache
  cache=$(hostpath "$EN_CACHE")
  printf 'VICTIM\n' >"$CASE_PREFIX/drive_c/victim.txt"
  { mkdir -p "$cache" && ln "$CASE_PREFIX/drive_c/victim.txt" "$cache/main.msi"; } ||
    fail "cannot link main.msi to C:\victim.txt"
  run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_registered "$EN_CODE" "$EN_NAME"
  assert_file 'C:\victim.txt' 'VICTIM'
  assert_same_file "$EN_CACHE\\main.msi" "$E2E_DIR/sample/en/demo.msi"
}

# A signed manifest whose cabinet is named ../../../victim.txt is a corrupted
# payload (13, quietly): nothing is written, msiexec does not run, and the
# file that name would reach, C:\victim.txt, stays as it was.
case_name_outside_the_folder() {
  crafted_case outside || return
  printf 'VICTIM\n' >"$CASE_PREFIX/drive_c/victim.txt"
  run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit 13
  assert_no_window
  assert_file 'C:\victim.txt' 'VICTIM'
  assert_absent "$EN_CACHE"
  assert_not_registered "$EN_CODE"
}

# Under a Japanese locale (code page 932) the cabinet 表.cab keeps its whole
# name: it is written as 表.cab, where msiexec looks for it, and the product
# installs.
case_trail_byte_backslash() {
  crafted_case kanji || return
  SYSTEST_LOCALE=ja_JP.UTF-8 run_probe "$CASE_PREFIX" -- 'C:\setup\setup.exe' /qn
  assert_exit 0
  assert_no_box
  assert_registered "$EN_CODE" "$EN_NAME"
  assert_file 'C:\Program Files\Demo\readme.txt' 'This is the sample product'
  assert_same_file "$EN_CACHE\\表.cab" "$E2E_DIR/sample/en/demo.cab"
}

run_case "stale main.msi replaced" case_stale_package
run_case "main.msi linked to a file elsewhere replaced" case_linked_package
run_case "name outside the product folder refused" case_name_outside_the_folder
run_case "cabinet name with a 0x5C trail byte, Japanese locale" case_trail_byte_backslash
finish
