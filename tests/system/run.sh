#!/bin/bash
# Runs the Wine system tests against a Windows build.
#
#   tests/system/run.sh WINBUILD_DIR [test_name.sh ...]
#
# WINBUILD_DIR is the Windows (MinGW) CMake build folder: the launcher is
# WINBUILD_DIR/launcher.exe and the probe and its fixtures are in
# WINBUILD_DIR/tests/system/probe/. PROBE_EXE and LAUNCHER_EXE override those
# paths. Without test names every tests/system/test_*.sh runs. Screenshots and
# probe reports go to WINBUILD_DIR/system-artifacts/ (emptied first).
# SYSTEST_KEEP=1 keeps the scratch folder with every case's prefix;
# SYSTEST_LOCALE (default en_US.UTF-8) is the LC_ALL the Windows programs get.
# The end-to-end tests (test_e2e_*.sh, inputs in e2e_inputs.sh) also need the
# host build's stubpack: HOST_BUILD_DIR (default: the repository's build/)
# or STUBPACK names it.
#
# One Xvfb display and one pristine Wine prefix serve the whole run; each case
# works in its own copy of the prefix. Exit status: 0 when every case passed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 WINBUILD_DIR [test_name.sh ...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
shift

export PROBE_EXE=${PROBE_EXE:-$build/tests/system/probe/probe.exe}
export LAUNCHER_EXE=${LAUNCHER_EXE:-$build/launcher.exe}
export FIXTURE_DIR=${FIXTURE_DIR:-$(dirname "$PROBE_EXE")}
export SYSTEST_ARTIFACTS=$build/system-artifacts
export SYSTEST_LOCALE=${SYSTEST_LOCALE:-en_US.UTF-8}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

for tool in wine wineboot wineserver Xvfb import identify; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is not installed" >&2; exit 2; }
done
if [ ! -f "$PROBE_EXE" ]; then
  echo "run.sh: no probe at $PROBE_EXE (build the Windows tree, or set PROBE_EXE)" >&2
  exit 2
fi

if [ $# -gt 0 ]; then
  tests=()
  for t in "$@"; do tests+=("$here/$(basename "$t")"); done
else
  # The probe's own test goes first: every other test relies on the probe.
  tests=("$here/test_probe.sh")
  for t in "$here"/test_*.sh; do
    [ "$t" = "$here/test_probe.sh" ] || tests+=("$t")
  done
fi

export SYSTEST_RUN_DIR
SYSTEST_RUN_DIR=$(mktemp -d /tmp/systest.XXXXXX)
rm -rf "$SYSTEST_ARTIFACTS"
mkdir -p "$SYSTEST_ARTIFACTS"

xvfb_pid=
cleanup() {
  WINEPREFIX=$SYSTEST_RUN_DIR/pristine wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  if [ -n "${SYSTEST_KEEP:-}" ]; then
    echo "scratch kept in $SYSTEST_RUN_DIR"
  else
    rm -rf "$SYSTEST_RUN_DIR"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display number itself and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
  3>"$SYSTEST_RUN_DIR/display" >"$SYSTEST_RUN_DIR/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$SYSTEST_RUN_DIR/display" ] && break
  sleep 0.1
done
if [ ! -s "$SYSTEST_RUN_DIR/display" ]; then
  echo "run.sh: Xvfb did not start:" >&2
  cat "$SYSTEST_RUN_DIR/xvfb.log" >&2
  exit 2
fi
DISPLAY=:$(head -n1 "$SYSTEST_RUN_DIR/display")
export DISPLAY

source "$here/lib.sh"
start=$EPOCHREALTIME
if ! make_pristine_prefix "$SYSTEST_RUN_DIR/pristine"; then
  echo "run.sh: cannot make the Wine prefix:" >&2
  cat "$SYSTEST_RUN_DIR/pristine.log" >&2
  exit 2
fi
printf 'prefix ready (%.1fs); display %s; launcher %s\n' \
  "$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')" "$DISPLAY" "$LAUNCHER_EXE"

failed=0
passed=0
for t in "${tests[@]}"; do
  out=$SYSTEST_RUN_DIR/$(basename "$t").out
  bash "$t" | tee "$out"
  status=${PIPESTATUS[0]}
  passed=$((passed + $(grep -c '^PASS ' "$out")))
  failed=$((failed + $(grep -c '^FAIL ' "$out")))
  if [ "$status" -ne 0 ] && ! grep -q '^FAIL ' "$out"; then
    echo "FAIL $(basename "$t" .sh): the script ended with status $status"
    failed=$((failed + 1))
  fi
done
printf 'system tests: %d passed, %d failed (%.1fs)\n' "$passed" "$failed" \
  "$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')"
[ "$failed" -eq 0 ]
