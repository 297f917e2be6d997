# shellcheck shell=bash
# Library for the Wine system tests, sourced by every tests/system/test_*.sh.
# run.sh prepares what the whole run shares (one Xvfb display, one pristine
# Wine prefix, the programs under test) and exports it; this file gives each
# case a fresh copy of the prefix, runs programs in it through probe.exe and
# checks what the probe saw.
#
# A test script looks like:
#   source "$(dirname "$0")/lib.sh"
#   case_quiet() { run_probe "$CASE_PREFIX" -- "$LAUNCHER_EXE" /qn; assert_exit 1168; }
#   run_case "quiet launch" case_quiet
#   finish
#
# Environment from run.sh: SYSTEST_RUN_DIR (scratch, holds pristine/),
# SYSTEST_ARTIFACTS, SYSTEST_LOCALE (the LC_ALL Wine programs get, which
# sets their user locale), DISPLAY, PROBE_EXE, FIXTURE_DIR, LAUNCHER_EXE.

if [ -z "${SYSTEST_RUN_DIR:-}" ]; then
  echo "lib.sh: run the system tests through tests/system/run.sh WINBUILD_DIR" >&2
  exit 2
fi

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

TEST_NAME=$(basename "$0" .sh)
CASES_PASSED=0
CASES_FAILED=0
CASE_ERRORS=()
CASE_INDEX=0

# --------------------------------------------------------------- prefixes

# make_pristine_prefix DIR: creates a Wine prefix in DIR, made for unattended
# runs: windows are not handed to a window manager (with none running, Wine
# waits two seconds on every window that closes), and the user folders are
# real folders inside the prefix instead of links into $HOME. Also writes
# DIR.mutable, the list clone_prefix copies. Returns nonzero on failure.
make_pristine_prefix() {
  local dir=$1
  in_prefix "$dir" wineboot -i >"$dir.log" 2>&1 || return 1
  in_prefix "$dir" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    >>"$dir.log" 2>&1 || return 1
  in_prefix "$dir" wineserver -w
  local link
  while IFS= read -r -d '' link; do
    rm -f "$link" && mkdir -p "$link"
  done < <(find "$dir/drive_c/users" -type l -print0)
  # Program files and data tables are never written in place by the tests:
  # clones share them through hard links; every other file is copied.
  (cd "$dir" && find . -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.nls' \
      -o -iname '*.sys' -o -iname '*.drv' -o -iname '*.ocx' -o -iname '*.cpl' \
      -o -iname '*.acm' -o -iname '*.tlb' -o -iname '*.ds' -o -iname '*.msstyles' \) \
      -print0) >"$dir.mutable"
}

# clone_prefix SRC DST: makes DST a prefix equal to SRC (made by
# make_pristine_prefix) in a fraction of the time a full copy takes.
clone_prefix() {
  cp -al "$1" "$2" &&
    (cd "$1" && xargs -0 -r cp -a --parents --remove-destination -t "$2" <"$1.mutable")
}

# winpath UNIXPATH [PREFIX]: prints the Windows path Wine gives UNIXPATH
# (what `winepath -w` prints, without starting Wine): C:\... inside the
# prefix's drive_c (default $CASE_PREFIX), else Z:\... .
winpath() {
  local path prefix=${2:-$CASE_PREFIX}
  path=$(realpath -m -- "$1")
  local drive_c
  drive_c=$(realpath -m -- "$prefix/drive_c")
  if [ "$path" = "$drive_c" ]; then
    printf 'C:\\\n'
  elif [ "${path#"$drive_c"/}" != "$path" ]; then
    path=${path#"$drive_c"/}
    printf 'C:\\%s\n' "${path//\//\\}"
  else
    printf 'Z:%s\n' "${path//\//\\}"
  fi
}

# unixpath WINPATH [PREFIX]: the reverse for C:\ paths: prints where
# C:\some\file lives in the prefix (default $CASE_PREFIX).
unixpath() {
  local path=$1 prefix=${2:-$CASE_PREFIX}
  case $path in
    [Cc]:\\*) path=${path:3}; printf '%s/drive_c/%s\n' "$prefix" "${path//\\//}" ;;
    [Zz]:\\*) path=${path:2}; printf '%s\n' "${path//\\//}" ;;
    *) return 1 ;;
  esac
}

# ------------------------------------------------------------------ cases

# run_case NAME FUNCTION [ARGS...]: runs one case in a fresh copy of the
# pristine prefix ($CASE_PREFIX), with $CASE_DIR for scratch files and
# $CASE_ARTIFACTS for what is kept. Prints one PASS or FAIL line with the
# time taken, and the failed checks below a FAIL.
run_case() {
  local name=$1 fn=$2
  shift 2
  CASE_INDEX=$((CASE_INDEX + 1))
  local slug
  slug=$(printf '%02d-%s' "$CASE_INDEX" "$name" | tr -c 'A-Za-z0-9._-' '-' | sed 's/-*$//')
  CASE_DIR=$SYSTEST_RUN_DIR/cases/$TEST_NAME-$slug
  CASE_PREFIX=$CASE_DIR/prefix
  CASE_ARTIFACTS=$SYSTEST_ARTIFACTS/$TEST_NAME/$slug
  CASE_ERRORS=()
  PROBE_LOG=
  PROBE_RUNS=0
  mkdir -p "$CASE_DIR" "$CASE_ARTIFACTS"
  local start=$EPOCHREALTIME
  if clone_prefix "$SYSTEST_RUN_DIR/pristine" "$CASE_PREFIX"; then
    "$fn" "$@"
  else
    CASE_ERRORS+=("cannot copy the pristine prefix")
  fi
  WINEPREFIX=$CASE_PREFIX wineserver -k >/dev/null 2>&1
  WINEPREFIX=$CASE_PREFIX wineserver -w >/dev/null 2>&1
  local took
  took=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
  if [ ${#CASE_ERRORS[@]} -eq 0 ]; then
    CASES_PASSED=$((CASES_PASSED + 1))
    printf 'PASS %s: %s (%ss)\n' "$TEST_NAME" "$name" "$took"
  else
    CASES_FAILED=$((CASES_FAILED + 1))
    printf 'FAIL %s: %s (%ss)\n' "$TEST_NAME" "$name" "$took"
    local e
    for e in "${CASE_ERRORS[@]}"; do printf '     %s\n' "$e"; done
    printf '     artifacts: %s\n' "$CASE_ARTIFACTS"
  fi
  [ -n "${SYSTEST_KEEP:-}" ] || rm -rf "$CASE_DIR"
}

# finish: ends a test script; exit status 1 when any case failed.
finish() {
  [ "$CASES_FAILED" -eq 0 ]
  exit $?
}

# fail MESSAGE: records a failed check for the current case (the case goes
# on, so one run shows every check that fails). Returns 1.
fail() {
  CASE_ERRORS+=("$*")
  return 1
}

# ------------------------------------------------------------- running

# run_probe PREFIX [--shot CLASS=NAME]... [--probe-status N] [probe options]
#           -- PROGRAM [ARGS...]
# Runs PROGRAM (a Windows path, or a Unix path that is converted) under
# probe.exe in PREFIX and waits for it. The probe's report goes to
# $PROBE_LOG (kept as an artifact, one file per run in the case); the
# probe's own exit status is in $PROBE_RC and is a failed check unless it
# is N (default 0). `--shot CLASS=NAME` saves a screenshot NAME.png in
# $CASE_ARTIFACTS while the first window of CLASS is on screen (more
# windows of CLASS give NAME-2.png, ...). A --timeout default of 60 s is
# added unless given.
run_probe() {
  local prefix=$1
  shift
  local -a opts=() shots=()
  local timeout=60 want_status=0
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    case $1 in
      --probe-status) want_status=$2; shift 2 ;;
      --shot) shots+=("$2"); opts+=(--pause-on "${2%%=*}=1000"); shift 2 ;;
      --timeout) timeout=$2; shift 2 ;;
      *) opts+=("$1"); shift ;;
    esac
  done
  if [ $# -lt 2 ]; then
    fail "run_probe: no program given"
    return 1
  fi
  shift
  local program=$1
  shift
  case $program in
    /*) program=$(winpath "$program" "$prefix") ;;
  esac
  PROBE_RUNS=$((PROBE_RUNS + 1))
  PROBE_LOG=$CASE_ARTIFACTS/probe-$PROBE_RUNS.log
  local errlog=$CASE_ARTIFACTS/wine-$PROBE_RUNS.log
  {
    printf 'probe'
    printf ' %q' "${opts[@]}" --timeout "$timeout" -- "$program" "$@"
    printf '\n'
  } >"$CASE_ARTIFACTS/command-$PROBE_RUNS.txt"
  local attempt
  for attempt in 1 2; do
    : >"$PROBE_LOG"
    WINEPREFIX=$prefix timeout $((timeout + 30)) env LC_ALL="$SYSTEST_LOCALE" \
      wine "$PROBE_EXE" "${opts[@]}" --timeout "$timeout" -- "$program" "$@" \
      >"$PROBE_LOG" 2>"$errlog" &
    local pid=$!
    if [ ${#shots[@]} -gt 0 ]; then
      _take_shots "$pid" "${shots[@]}"
    fi
    wait "$pid"
    PROBE_RC=$?
    # Wine now and then fails to create the process itself (seen: error 1359
    # from CreateProcess), or to start the probe at all (seen: status 1 and
    # not a line from the probe, which reports every way it ends). Nothing of
    # the program under test has run then, so one more start is a fair second
    # try; any other outcome stands.
    if ! grep -q '^ERROR cannot start' "$PROBE_LOG" &&
      { [ -s "$PROBE_LOG" ] || [ "$PROBE_RC" -eq 0 ] || [ "$PROBE_RC" -eq 124 ]; }; then
      break
    fi
    cp "$PROBE_LOG" "$PROBE_LOG.start-failed"
    sleep 1
  done
  if [ "$PROBE_RC" -ne "$want_status" ]; then
    fail "probe ended with status $PROBE_RC, not $want_status:" \
      "$(grep -m1 -E '^(ERROR|TIMEOUT)' "$PROBE_LOG")"
  fi
  return 0
}

# _take_shots PID CLASS=NAME...: while the probe PID runs, takes a
# screenshot for each READY line it prints.
_take_shots() {
  local pid=$1
  shift
  local -A taken=()
  local seen=0
  while kill -0 "$pid" 2>/dev/null; do
    local ready
    ready=$(grep -c '^READY ' "$PROBE_LOG")
    while [ "$seen" -lt "$ready" ]; do
      seen=$((seen + 1))
      local class name pair
      class=$(grep '^READY ' "$PROBE_LOG" | sed -n "${seen}p" | cut -c7-)
      name=
      for pair in "$@"; do
        [ "${pair%%=*}" = "$class" ] && name=${pair#*=}
      done
      [ -n "$name" ] || continue
      taken[$class]=$((${taken[$class]:-0} + 1))
      [ "${taken[$class]}" -gt 1 ] && name=$name-${taken[$class]}
      screenshot "$CASE_ARTIFACTS/$name.png"
    done
    sleep 0.1
  done
}

# screenshot FILE: saves the whole display as a PNG; records a failure when
# that is not possible.
screenshot() {
  import -window root "$1" 2>>"$CASE_DIR/import.log" || fail "cannot take screenshot $1"
}

# in_prefix PREFIX COMMAND...: runs a command (e.g. wine reg query ...)
# with the prefix's environment.
in_prefix() {
  local prefix=$1
  shift
  WINEPREFIX=$prefix env LC_ALL="$SYSTEST_LOCALE" "$@"
}

# ------------------------------------------------------------- checks

# assert_exit CODE: the last probe run saw the program end with CODE (the
# whole 32-bit value).
assert_exit() {
  local got
  got=$(grep -m1 '^EXIT ' "$PROBE_LOG" | cut -c6-)
  [ "$got" = "$1" ] || fail "exit code in $(basename "$PROBE_LOG"): want $1, got ${got:-none}"
}

# assert_line LINE: the last probe report holds exactly this line.
assert_line() {
  grep -qxF -- "$1" "$PROBE_LOG" || fail "no line '$1' in $(basename "$PROBE_LOG")"
}

# assert_box_text TEXT / assert_box_caption CAPTION: a message box with this
# text / caption was shown (line breaks in TEXT written as \n).
assert_box_text() { assert_line "BOX text=$1"; }
assert_box_caption() { assert_line "BOX caption=$1"; }

# assert_box_count N: exactly N message boxes were shown.
assert_box_count() {
  local got
  got=$(grep -c '^BOX caption=' "$PROBE_LOG")
  [ "$got" = "$1" ] || fail "message boxes in $(basename "$PROBE_LOG"): want $1, got $got"
}

# assert_no_box: no message box and no folder browser was shown.
assert_no_box() {
  ! grep -qE '^(BOX|BROWSER) ' "$PROBE_LOG" ||
    fail "unexpected dialog in $(basename "$PROBE_LOG"): $(grep -m1 -E '^(BOX|BROWSER) ' "$PROBE_LOG")"
}

# assert_no_window: no window at all became visible.
assert_no_window() {
  ! grep -q '^WINDOW ' "$PROBE_LOG" ||
    fail "unexpected window in $(basename "$PROBE_LOG"): $(grep -m1 '^WINDOW ' "$PROBE_LOG")"
}

# assert_screenshot NAME: NAME.png was taken and shows more than one colour.
assert_screenshot() {
  local file=$CASE_ARTIFACTS/$1.png
  [ -s "$file" ] || { fail "no screenshot $1.png"; return 1; }
  local colours
  colours=$(identify -format '%k' "$file" 2>/dev/null)
  [ "${colours:-1}" -gt 1 ] || fail "screenshot $1.png is blank"
}

# trim_screenshot NAME: writes NAME-trimmed.png beside NAME.png, cut to what
# is not the empty screen around the windows (for the documentation).
trim_screenshot() {
  local file=$CASE_ARTIFACTS/$1.png
  [ -s "$file" ] || return 0
  convert "$file" -trim +repage "$CASE_ARTIFACTS/$1-trimmed.png" 2>>"$CASE_DIR/import.log" ||
    fail "cannot trim $1.png"
}
