#!/bin/bash
# stubpack.exe, the Windows build of the publisher's tool, run under Wine. It
# reads the packages through the system's msi.dll (Wine's own), the Linux
# build through libmsi: from the same packages, given nothing but --msi, both
# must write exactly the same bytes, and what they write must install. They
# refuse the same broken inputs and then write nothing.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

STUBPACK_EXE=${STUBPACK_EXE:-$(dirname "$LAUNCHER_EXE")/stubpack.exe}

# stubpack_both ARGS...: runs the Linux and the Windows stubpack with ARGS in
# the case's work folder, the Windows one writing win.exe where the Linux one
# writes linux.exe (ARGS holds @OUT@ for the output). Sets LINUX_RC, WIN_RC;
# the output of each is in $CASE_ARTIFACTS/linux.log and windows.log.
stubpack_both() {
  local -a linux=("${@//@OUT@/linux.exe}") win=("${@//@OUT@/win.exe}")
  (cd "$CASE_DIR/work" && "$STUBPACK" "${linux[@]}") >"$CASE_ARTIFACTS/linux.log" 2>&1
  LINUX_RC=$?
  (cd "$CASE_DIR/work" && in_prefix "$CASE_PREFIX" wine "$STUBPACK_EXE" "${win[@]}") \
    >"$CASE_ARTIFACTS/windows.log" 2>&1
  WIN_RC=$?
}

# pack_both PACKAGE_ARGS...: packs signed.exe with the packages in both
# builds; both must succeed and write the same bytes.
pack_both() {
  stubpack_both pack --launcher signed.exe --key key.pem --out @OUT@ "$@"
  [ "$LINUX_RC" = 0 ] || fail "Linux stubpack pack exited $LINUX_RC: $(tail -n1 "$CASE_ARTIFACTS/linux.log")"
  [ "$WIN_RC" = 0 ] || fail "stubpack.exe pack exited $WIN_RC: $(tail -n1 "$CASE_ARTIFACTS/windows.log")"
  cmp -s "$CASE_DIR/work/linux.exe" "$CASE_DIR/work/win.exe" ||
    fail "stubpack.exe wrote other bytes than the Linux build"
}

work_folder() {
  mkdir -p "$CASE_DIR/work"
  cp -r "$E2E_DIR/sample" "$E2E_DIR/signed.exe" "$CASE_DIR/work/"
  cp "$E2E_KEY" "$CASE_DIR/work/key.pem"
}

have_stubpack_exe() {
  [ -f "$STUBPACK_EXE" ] || { fail "no stubpack.exe at $STUBPACK_EXE"; return 1; }
}

case_same_output_and_installs() {
  have_stubpack_exe || return
  work_folder
  pack_both --msi sample/en/demo.msi --msi sample/de/demo.msi

  (cd "$CASE_DIR/work" && in_prefix "$CASE_PREFIX" wine "$STUBPACK_EXE" inspect win.exe) \
    >"$CASE_ARTIFACTS/inspect.log" 2>&1 || fail "stubpack.exe inspect does not accept its own output"

  e2e_case "$CASE_DIR/work/win.exe"
  run_probe "$CASE_PREFIX" -- 'C:\setup\win.exe' /qn
  assert_exit 0
  assert_registered "$EN_CODE" "$EN_NAME"
}

# national_package DIR CODEPAGE LANGUAGE NAME: the English sample package in
# work/DIR with its cabinet, its string pool in CODEPAGE, product name NAME
# and languages LANGUAGE.
national_package() {
  local dir=$CASE_DIR/work/$1
  mkdir -p "$dir"
  cp "$CASE_DIR/work/sample/en/demo.msi" "$CASE_DIR/work/sample/en/demo.cab" "$dir/"
  printf '\r\n\r\n%s\t_ForceCodepage\r\n' "$2" >"$dir/codepage.idt"
  (cd "$dir" && msibuild demo.msi -i codepage.idt \
    -q "UPDATE \`Property\` SET \`Value\` = '$4' WHERE \`Property\` = 'ProductName'" &&
    msibuild demo.msi -s 'Demo' 'Demo Publisher' "x64;$3" '{1E7F3A52-8C2B-4D0C-9A51-2E6C0F4B7D19}') \
    >>"$CASE_ARTIFACTS/msibuild.log" 2>&1 || fail "cannot make the $1 package"
}

# The names are stored in the packages' own code pages (Shift-JIS, Windows
# Cyrillic) and reach stubpack.exe as UTF-16 from msi.dll: the manifest must
# hold the same UTF-8 that the Linux build writes, whatever the ANSI code page.
case_names_in_any_language() {
  have_stubpack_exe || return
  work_folder
  local ja='デモ製品 ①' ru='Демо-продукт «Ё»'
  national_package ja 932 1041 "$ja"
  national_package ru 1251 1049 "$ru"
  pack_both --msi ja/demo.msi --msi ru/demo.msi
  grep -qF -- "\\$ja " "$CASE_ARTIFACTS/linux.log" || fail "the Linux build did not read '$ja'"
  grep -qF -- "\\$ru " "$CASE_ARTIFACTS/linux.log" || fail "the Linux build did not read '$ru'"
}

# Texts longer than the reader's first buffer (128 UTF-16 units), one cut
# there in the middle of a surrogate pair, and a package without a Media
# table: msi.dll asks for a bigger buffer, and the result must still be the
# Linux build's bytes.
case_long_texts_and_no_media() {
  have_stubpack_exe || return
  work_folder
  local name="Demo product $(printf '\U1F600%.0s' $(seq 60))" languages=1033 i
  for i in $(seq 25); do languages=$languages,$((1024 + i)); done
  national_package long 65001 "$languages" "$name"
  mkdir -p "$CASE_DIR/work/nomedia"
  cp "$CASE_DIR/work/sample/en/demo.msi" "$CASE_DIR/work/nomedia/"
  msibuild "$CASE_DIR/work/nomedia/demo.msi" -q 'DROP TABLE `Media`' \
    >>"$CASE_ARTIFACTS/msibuild.log" 2>&1 || fail "cannot make the package without Media"
  pack_both --msi long/demo.msi --msi nomedia/demo.msi
  grep -qF -- "\\$name " "$CASE_ARTIFACTS/linux.log" || fail "the Linux build did not read '$name'"
}

# The system's Installer library takes package paths of at most MAX_PATH - 1
# characters (Wine's overruns its buffer on a longer one): stubpack.exe
# refuses a package on a longer path, saying so, where the Linux build packs
# it. Every other file of the tool may be on such a path on both systems.
case_long_paths() {
  have_stubpack_exe || return
  work_folder
  local deep=deep i
  for i in $(seq 30); do deep=$deep/folder-$i; done
  mkdir -p "$CASE_DIR/work/$deep"
  cp "$CASE_DIR/work/sample/en/demo.msi" "$CASE_DIR/work/sample/en/demo.cab" "$CASE_DIR/work/$deep/"
  stubpack_both pack --launcher signed.exe --key key.pem --out "$deep/@OUT@" \
    --msi sample/en/demo.msi
  [ "$LINUX_RC" = 0 ] || fail "Linux stubpack pack exited $LINUX_RC: $(tail -n1 "$CASE_ARTIFACTS/linux.log")"
  [ "$WIN_RC" = 0 ] || fail "stubpack.exe pack to a long path exited $WIN_RC: $(tail -n1 "$CASE_ARTIFACTS/windows.log")"
  cmp -s "$CASE_DIR/work/$deep/linux.exe" "$CASE_DIR/work/$deep/win.exe" ||
    fail "stubpack.exe wrote other bytes than the Linux build to a long path"

  stubpack_both pack --launcher signed.exe --key key.pem --out @OUT@ --msi "$deep/demo.msi"
  [ "$LINUX_RC" = 0 ] || fail "Linux stubpack refused a package on a long path"
  [ "$WIN_RC" = 1 ] || fail "stubpack.exe pack exited $WIN_RC, not 1, for a package on a long path"
  grep -qF -- "as a Windows Installer package: its full path is" "$CASE_ARTIFACTS/windows.log" ||
    fail "stubpack.exe does not say the package's path is too long: $(head -n1 "$CASE_ARTIFACTS/windows.log")"
  [ ! -e "$CASE_DIR/work/win.exe" ] || fail "stubpack.exe left win.exe behind"
}

# refused WHAT ARGS...: both builds refuse to pack signed.exe with ARGS, both
# say WHAT, and neither writes anything.
case_refused() {
  have_stubpack_exe || return
  local what=$1
  shift
  work_folder
  mkdir -p "$CASE_DIR/work/nocab"
  cp "$CASE_DIR/work/sample/en/demo.msi" "$CASE_DIR/work/nocab/"
  head -c 8192 /dev/urandom >"$CASE_DIR/work/random.msi"
  stubpack_both pack --launcher signed.exe --key key.pem --out @OUT@ "$@"
  [ "$LINUX_RC" = 1 ] || fail "Linux stubpack pack exited $LINUX_RC, not 1"
  [ "$WIN_RC" = 1 ] || fail "stubpack.exe pack exited $WIN_RC, not 1"
  grep -qF -- "$what" "$CASE_ARTIFACTS/linux.log" || fail "the Linux build does not say '$what'"
  grep -qF -- "$what" "$CASE_ARTIFACTS/windows.log" || fail "stubpack.exe does not say '$what'"
  [ ! -e "$CASE_DIR/work/win.exe" ] || fail "stubpack.exe left win.exe behind"
  [ ! -e "$CASE_DIR/work/linux.exe" ] || fail "the Linux build left linux.exe behind"
  local left
  left=$(find "$CASE_DIR/work" -maxdepth 1 -name '*stubpack*')
  [ -z "$left" ] || fail "a temporary file was left behind: $left"
}

run_case "stubpack.exe reads the packages as the Linux build does, and the result installs" \
  case_same_output_and_installs
run_case "stubpack.exe writes product names in any language as the Linux build does" \
  case_names_in_any_language
run_case "stubpack.exe reads texts longer than its first buffer and packages without media" \
  case_long_texts_and_no_media
run_case "stubpack.exe refuses a package on a path too long for msi.dll, writes to long paths" \
  case_long_paths
run_case "a package whose cabinet is missing is refused, naming the cabinet" \
  case_refused "missing cabinet demo.cab" --msi nocab/demo.msi
run_case "a file that is not a package is refused" \
  case_refused "cannot open random.msi as a Windows Installer package" --msi random.msi
finish
