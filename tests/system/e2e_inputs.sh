# shellcheck shell=bash
# What the end-to-end tests (tests/system/test_e2e_*.sh) share, sourced after
# lib.sh: the sample product's packages, a launcher signed with a throwaway
# certificate, the setups stubpack packs from them, and checks on what an
# installation left in a case's prefix.
#
# The inputs are made once per run into $SYSTEST_RUN_DIR/e2e by e2e_inputs,
# from real tools: wixl and gcab (examples/build-sample.sh), openssl and
# osslsigncode, and the host build's stubpack ($HOST_BUILD_DIR/stubpack,
# HOST_BUILD_DIR defaulting to the repository's build/; STUBPACK overrides the
# tool itself).
#
# Every case runs its setup from C:\setup inside its own prefix, with the Z:
# drive removed, so that nothing the launcher or the installer writes can
# reach the host's file system.

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_DIR=$SYSTEST_RUN_DIR/e2e
HOST_BUILD_DIR=${HOST_BUILD_DIR:-$E2E_ROOT/build}
STUBPACK=${STUBPACK:-$HOST_BUILD_DIR/stubpack}
E2E_KEY=$E2E_ROOT/keys/dev_private.pem
PAYLOAD_BLOCKS=$E2E_ROOT/tests/system/payload_blocks.py

# The sample product (examples/README.md).
EN_CODE='{5970BD6B-642E-4576-98BF-6A9F9555AB0E}'
DE_CODE='{FE8F0829-B19F-452B-A8C9-A713FF303451}'
FAIL_CODE='{03C25956-E5B8-45FC-B811-F6050A8695A1}'
EN_NAME='Demo Product'
DE_NAME='Demo Produkt'
FAIL_NAME='Demo Failure'

# The launcher's user texts 101 and 102, and its progress window class.
TEXT_101='The installation file is either corrupted or does not support your processor architecture.'
TEXT_102='Select a folder where you want to extract the installation files:'
PROGRESS_CLASS=MSI_STUB_WINDOW_CLASS_NAME

UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'

# e2e_inputs: makes the shared inputs in $E2E_DIR unless an earlier test of
# this run made them:
#   sample/{en,de,fail}/   the sample packages and cabinets
#   sign.crt, sign.key     a throwaway self-signed code-signing certificate
#   signed.exe             the launcher, Authenticode-signed with it
#   setup.exe              signed.exe packed with en then de (appended form)
#   setup-cert.exe         the launcher signed with a certificate that holds
#                          the same payload (certificate form)
#   setup-fail.exe         signed.exe packed with the failing package
#   setup-big.exe          signed.exe packed with en, its cabinet and a
#                          128 MiB file of random bytes (filler.bin), which
#                          keeps the progress window up for a second or so
#                          even at full speed
# Returns nonzero, with the failing step's output on stderr, when a step fails.
e2e_inputs() {
  [ -f "$E2E_DIR/ready" ] && return 0
  rm -rf "$E2E_DIR"
  mkdir -p "$E2E_DIR"
  local log=$E2E_DIR/inputs.log start=$EPOCHREALTIME
  if ! (cd "$E2E_DIR" && _e2e_make_inputs) >"$log" 2>&1; then
    echo "e2e inputs: $(tail -n1 "$log")" >&2
    sed 's/^/    /' "$log" | tail -n 20 >&2
    return 1
  fi
  touch "$E2E_DIR/ready"
  printf 'e2e inputs made (%.1fs): sample packages, signed launcher, setups packed by %s\n' \
    "$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')" "$STUBPACK"
}

# _e2e_make_inputs: the steps of e2e_inputs, in the current folder; stops at
# the first that fails, its output last.
_e2e_make_inputs() {
  local tool sign=(osslsigncode sign -certs sign.crt -key sign.key -h sha256 -n 'Demo setup')
  for tool in python3 openssl osslsigncode convert; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed"; return 1; }
  done
  [ -x "$STUBPACK" ] || { echo "no stubpack at $STUBPACK (build the host tree or set HOST_BUILD_DIR)"; return 1; }
  [ -f "$LAUNCHER_EXE" ] || { echo "no launcher at $LAUNCHER_EXE"; return 1; }
  "$E2E_ROOT/examples/build-sample.sh" sample &&
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj '/CN=Demo Test Publisher' \
      -addext extendedKeyUsage=codeSigning -keyout sign.key -out sign.crt 2>&1 &&
    "${sign[@]}" -in "$LAUNCHER_EXE" -out signed.exe &&
    "$STUBPACK" pack --launcher signed.exe --key "$E2E_KEY" --out setup.exe \
      --msi sample/en/demo.msi --msi sample/de/demo.msi &&
    "$STUBPACK" pack --key "$E2E_KEY" --certificate-out payload.pem \
      --msi sample/en/demo.msi --msi sample/de/demo.msi &&
    "${sign[@]}" -ac payload.pem -in "$LAUNCHER_EXE" -out setup-cert.exe &&
    "$STUBPACK" pack --launcher signed.exe --key "$E2E_KEY" --out setup-fail.exe \
      --msi sample/fail/fail.msi &&
    head -c 134217728 /dev/urandom >filler.bin &&
    "$STUBPACK" pack --launcher signed.exe --key "$E2E_KEY" --out setup-big.exe \
      --msi sample/en/demo.msi --cab sample/en/demo.cab --cab filler.bin
}

# e2e_case FILE...: prepares the current case's prefix: removes its Z: drive
# (the host's /) and copies each FILE (default: $E2E_DIR/setup.exe) into
# C:\setup, keeping its name.
e2e_case() {
  rm -f "$CASE_PREFIX/dosdevices/z:"
  mkdir -p "$CASE_PREFIX/drive_c/setup"
  [ $# -gt 0 ] || set -- "$E2E_DIR/setup.exe"
  cp -- "$@" "$CASE_PREFIX/drive_c/setup/" || fail "cannot copy $* into the prefix"
}

# hostpath WINPATH: where a C:\ path of the case's prefix lives on the host;
# each part is matched without regard to case, as Windows does. Parts that do
# not exist are kept as written.
hostpath() {
  local rest=${1:3} dir=$CASE_PREFIX/drive_c part found
  local IFS='\'
  for part in $rest; do
    [ -n "$part" ] || continue
    found=$(find "$dir" -mindepth 1 -maxdepth 1 -iname "$part" -print -quit 2>/dev/null)
    dir=${found:-$dir/$part}
  done
  printf '%s\n' "$dir"
}

# assert_file WINPATH [TEXT]: the file exists in the case's prefix, not
# empty, and holds TEXT when given.
assert_file() {
  local file
  file=$(hostpath "$1")
  if [ ! -s "$file" ]; then
    fail "no file $1"
  elif [ $# -gt 1 ] && ! grep -qF -- "$2" "$file"; then
    fail "$1 does not hold '$2'"
  fi
}

# assert_same_file WINPATH HOSTFILE: the file in the prefix has the bytes of HOSTFILE.
assert_same_file() {
  local file
  file=$(hostpath "$1")
  cmp -s -- "$file" "$2" || fail "$1 differs from $(basename "$2") (or is missing)"
}

# assert_absent WINPATH: nothing of this name exists in the case's prefix.
assert_absent() {
  [ ! -e "$(hostpath "$1")" ] || fail "$1 exists: $(ls -A "$(hostpath "$1")" | tr '\n' ' ')"
}

# registry_value CODE NAME: prints the data of the value NAME of the
# product's Uninstall key as `wine reg query` shows it; nothing when absent.
registry_value() {
  in_prefix "$CASE_PREFIX" wine reg query "$UNINSTALL_KEY\\$1" /v "$2" 2>/dev/null |
    tr -d '\r' | sed -n "s/^ *$2 *\\(REG_[A-Z_]*\\) *//p"
}

# assert_registered CODE [DISPLAYNAME]: the product's Uninstall key has a
# nonempty UninstallString (and that DisplayName).
assert_registered() {
  local value
  value=$(registry_value "$1" UninstallString)
  [ -n "$value" ] || fail "product $1 is not registered (no UninstallString)"
  if [ $# -gt 1 ]; then
    value=$(registry_value "$1" DisplayName)
    [ "$value" = "$2" ] || fail "product $1 is registered as '$value', not '$2'"
  fi
}

# assert_not_registered CODE: the product has no Uninstall key.
assert_not_registered() {
  ! in_prefix "$CASE_PREFIX" wine reg query "$UNINSTALL_KEY\\$1" >/dev/null 2>&1 ||
    fail "product $1 is registered"
}

# assert_window CLASS TITLE: the last probe run saw a window of CLASS with TITLE.
assert_window() { assert_line "WINDOW class=$1 title=$2"; }
