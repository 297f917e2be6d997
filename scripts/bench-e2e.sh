#!/usr/bin/env bash
# End-to-end benchmark under Wine: the launcher against an NSIS installer
# that does the same job with the same package.
#
#   scripts/bench-e2e.sh [--smoke] [--rounds N] [--sizes "64 512"]
#                        [--kinds "random text"] [--baseline EXE] [--no-doc]
#                        [WINBUILD_DIR]
#
# What it measures. One package made with wixl: an x64 MSI whose one file lives
# in ONE external cabinet made with gcab, stored (not compressed), so that the
# two extracted files (main.msi + bench.cab) come to exactly SIZE MiB. The
# file's content is either random bytes (incompressible) or text-like data that
# zlib compresses about 3:1. The same MSI and cabinet go into:
#   launcher, appended     WINBUILD_DIR/launcher.exe, unsigned, payload appended
#                          to the end of the file (stubpack pack --launcher)
#   launcher, cert table   the launcher signed with osslsigncode, then packed:
#                          payload inside the certificate table after the PKCS#7
#   launcher, cert ext     payload in a certificate extension (stubpack pack
#                          --certificate-out, osslsigncode sign -ac)
#   NSIS                   bench/e2e/bench.nsi: makensis, amd64-unicode, zlib,
#                          an instfiles page that closes itself
#   before, appended and   with --baseline: another launcher.exe (an earlier
#   before, cert table     build, say) packed the same two ways, so that
#                          before and after are measured in one run
# Each is started by bench/e2e/meter.exe inside one throwaway Wine prefix (one
# wineserver for the whole run, on a private Xvfb display), where the system's
# msiexec.exe is replaced by bench/e2e/msiexec_standin.c, which notes the time
# it starts and exits 0 at once. Each program gets the single argument /qn,
# which the launcher hands through to msiexec (its progress window shows
# anyway) and which the NSIS installer passes itself; neither is told to be
# quiet. meter.exe reports wall time (QueryPerformanceCounter), the peak of
# PeakWorkingSetSize, and the phases: first byte in the output folder, all
# bytes written, msiexec started.
#
# The floors: in the same prefix, for every case, bench/e2e/floors.exe times
# alone each step the launcher's writing phase is made of, on the package's
# two files as one: SHA-256 through the system's CNG, a plain copy of the
# file, and inflating its zlib stream (level 9, as stubpack packs). The
# writing phase's floor is the larger of the hash and of inflate plus copy:
# the launcher hashes on a second thread beside the one that inflates and
# writes. The report gives each writing phase as a multiple of that floor.
#
# For every size: for every kind: one warm-up run of each program (not
# counted; it also checks the extracted files byte for byte and msiexec's
# command line), then N rounds in which the programs alternate (the order
# rotates each round). The table takes the median of the rounds.
#
# Output: a Markdown table on stdout; unless --smoke or --no-doc, the section
# "End-to-end under Wine, against NSIS" of docs/performance.md gets the new
# results between its bench-e2e markers (the section is added at the end of the
# file when missing; nothing else of the file changes).
#
# Options and environment:
#   --smoke               1 MiB, 1 round, no doc: proves the harness works
#   --rounds N            rounds per case (BENCH_ROUNDS, default 3)
#   --sizes LIST          payload sizes in MiB (BENCH_SIZES, default "64 512")
#   --kinds LIST          random and/or text (BENCH_KINDS, default both)
#   --baseline EXE        also measure this launcher.exe (BENCH_BASELINE), the
#                         "before" of a change
#   --no-doc              print the table only
#   WINBUILD_DIR          the MinGW build folder holding launcher.exe
#                         (BENCH_WINBUILD, default build-win/ of the repository)
#   STUBPACK              the host stubpack (default build/stubpack)
#   BENCH_CACHE           inputs and the pristine prefix are kept here between
#                         runs (default WINBUILD_DIR/bench-e2e)
#   BENCH_TIMEOUT         seconds one program may run (default 300)
#
# Never part of scripts/test.sh or CI: its figures depend on what else the
# machine is doing; only ratios measured in the same run mean anything.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
here="$root/bench/e2e"

# ----------------------------------------------------------------- options
write_doc=1
rounds="${BENCH_ROUNDS:-3}"
sizes="${BENCH_SIZES:-64 512}"
kinds="${BENCH_KINDS:-random text}"
winbuild="${BENCH_WINBUILD:-$root/build-win}"
baseline="${BENCH_BASELINE:-}"
while [ $# -gt 0 ]; do
  case $1 in
    --smoke) write_doc=0; rounds=1; sizes=1; shift ;;
    --rounds) rounds=$2; shift 2 ;;
    --sizes) sizes=$2; shift 2 ;;
    --kinds) kinds=$2; shift 2 ;;
    --baseline) baseline=$2; shift 2 ;;
    --no-doc) write_doc=0; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "bench-e2e: unknown option $1 (see --help)" >&2; exit 2 ;;
    *) winbuild=$1; shift ;;
  esac
done
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "bench-e2e: --rounds wants a positive number" >&2; exit 2; }
for s in $sizes; do
  [[ $s =~ ^[1-9][0-9]*$ ]] || { echo "bench-e2e: sizes are whole MiB, not '$s'" >&2; exit 2; }
done
for k in $kinds; do
  case $k in random|text) ;; *) echo "bench-e2e: kinds are random and text, not '$k'" >&2; exit 2 ;; esac
done

launcher="$winbuild/launcher.exe"
stubpack="${STUBPACK:-$root/build/stubpack}"
cache="${BENCH_CACHE:-$winbuild/bench-e2e}"
run_timeout="${BENCH_TIMEOUT:-300}"
key="$root/keys/dev_private.pem"
product_code='{EC5EFBD9-18E2-4EDB-A326-94F67CD2CEF7}'   # bench/e2e/bench.wxs
cab_name=bench.cab

# ------------------------------------------------------------------- tools
missing=()
for tool in wine wineboot wineserver Xvfb makensis wixl gcab osslsigncode openssl python3 \
    x86_64-w64-mingw32-gcc lscpu free sha256sum; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bench-e2e: missing tools: ${missing[*]} (scripts/setup.sh installs them)" >&2
  exit 2
fi
[ -f "$launcher" ] || { echo "bench-e2e: no launcher at $launcher (build the Windows tree)" >&2; exit 2; }
[ -z "$baseline" ] || [ -f "$baseline" ] || { echo "bench-e2e: no baseline launcher at $baseline" >&2; exit 2; }
[ -x "$stubpack" ] || { echo "bench-e2e: no stubpack at $stubpack (build the host tree or set STUBPACK)" >&2; exit 2; }

log() { printf '[bench-e2e] %s\n' "$*" >&2; }
elapsed() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }
bench_start=$EPOCHREALTIME
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

# ------------------------------------------------------------ the helpers
# Always rebuilt: two small C files, a second of work, and never stale.
tools="$cache/tools"
mkdir -p "$tools"
x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -municode -mconsole -static -s \
  -o "$tools/meter.exe" "$here/meter.c" -lpsapi
x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -municode -mwindows -static -s \
  -o "$tools/msiexec.exe" "$here/msiexec_standin.c"
x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -municode -mconsole -static -s \
  -o "$tools/floors.exe" "$here/floors.c" -lbcrypt -lz

# --------------------------------------------------------------- the inputs
# write_content KIND BYTES FILE: the payload file's content. random: bytes of
# /dev/urandom. text: text-like lines of words from a 2000-word vocabulary with
# Zipf-like frequencies, which zlib -9 compresses about 3:1; made as an 8 MiB
# block repeated, which changes nothing for zlib (its window is 32 KiB) and
# keeps the 512 MiB file a matter of seconds.
write_content() {
  local kind=$1 bytes=$2 file=$3
  if [ "$kind" = random ]; then
    head -c "$bytes" /dev/urandom >"$file"
  else
    python3 - "$bytes" "$file" <<'PY'
import itertools, random, sys
total, path = int(sys.argv[1]), sys.argv[2]
rng = random.Random(20241)
letters = "etaoinshrdlcumwfgypbvkjxqz"
freq = [12, 9, 8, 7.5, 7, 6.7, 6.3, 6, 6, 4.3, 4, 2.8, 2.8, 2.4, 2.4, 2.2, 2, 2, 1.9, 1.5,
        1, 0.8, 0.15, 0.15, 0.1, 0.07]
vocab = ["".join(rng.choices(letters, freq, k=rng.randint(2, 11))) for _ in range(2000)]
cum = list(itertools.accumulate(1.0 / (i + 1) ** 0.8 for i in range(len(vocab))))
lines, size = [], 0
while size < 8 << 20:
    words = rng.choices(vocab, cum_weights=cum, k=4096)
    for i in range(0, 4096, 16):
        line = " ".join(words[i:i + 16]) + ".\n"
        lines.append(line)
        size += len(line)
block = "".join(lines).encode()[:8 << 20]
with open(path, "wb") as f:
    left = total
    while left > 0:
        f.write(block[:left])
        left -= min(left, len(block))
PY
  fi
}

# make_package KIND SIZE DIR: DIR/bench.msi and DIR/bench.cab, together
# exactly SIZE MiB, and DIR/ready. The cabinet stores its file uncompressed
# (gcab without -z), so the only compression is each program's own zlib.
make_package() {
  local kind=$1 mib=$2 dir=$3
  [ -f "$dir/ready" ] && return 0
  rm -rf "$dir"
  mkdir -p "$dir/stage"
  local target=$((mib * 1048576))
  cp "$here/bench.wxs" "$dir/bench.wxs"
  write_content "$kind" "$target" "$dir/stage/PayloadFile"
  # The file's size is the target less the package and the cabinet's own
  # structures; both depend a little on the size, so settle it in a few steps.
  local size=$target total=0
  for _ in 1 2 3 4; do
    truncate -s "$size" "$dir/stage/PayloadFile"
    touch -d @1704067200 "$dir/stage/PayloadFile"
    (cd "$dir" && ln -sf stage/PayloadFile payload.bin &&
      wixl -a x64 -D PayloadFile=payload.bin -o bench.msi bench.wxs)
    rm -f "$dir/$cab_name"
    (cd "$dir/stage" && gcab -c -n "../$cab_name" PayloadFile)
    total=$(($(stat -c %s "$dir/bench.msi") + $(stat -c %s "$dir/$cab_name")))
    [ "$total" -eq "$target" ] && break
    size=$((size + target - total))
  done
  [ "$total" -eq "$target" ] ||
    log "note: $kind $mib MiB package is $total bytes, not $target"
  rm -rf "$dir/stage" "$dir/payload.bin"
  printf '%s\n' "$total" >"$dir/ready"
}

# A throwaway code-signing certificate for the signed forms (kept with the
# cache; its dates do not matter to Wine or to the launcher).
sign_crt="$cache/sign.crt"
sign_key="$cache/sign.key"
if [ ! -f "$sign_crt" ] || [ ! -f "$sign_key" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj '/CN=Bench Publisher' \
    -addext extendedKeyUsage=codeSigning -keyout "$sign_key" -out "$sign_crt" >/dev/null 2>&1
fi
sign=(osslsigncode sign -certs "$sign_crt" -key "$sign_key" -h sha256 -n 'Bench setup')

# Everything packed depends on the launcher: keyed by its digest, and packs of
# other launchers are removed (they are large).
launcher_sha=$(sha256sum "$launcher" | cut -c1-12)
packs="$cache/packs/$launcher_sha"
baseline_sha=
[ -n "$baseline" ] && baseline_sha=$(sha256sum "$baseline" | cut -c1-12)
if [ -d "$cache/packs" ]; then
  find "$cache/packs" -mindepth 1 -maxdepth 1 ! -name "$launcher_sha" \
    ! -name "${baseline_sha:-$launcher_sha}" -exec rm -rf {} +
fi
mkdir -p "$packs"
if [ ! -f "$packs/signed.exe" ]; then
  "${sign[@]}" -in "$launcher" -out "$packs/signed.exe.tmp" >/dev/null
  mv "$packs/signed.exe.tmp" "$packs/signed.exe"
fi
if [ -n "$baseline" ]; then
  mkdir -p "$cache/packs/$baseline_sha"
  if [ ! -f "$cache/packs/$baseline_sha/signed.exe" ]; then
    "${sign[@]}" -in "$baseline" -out "$cache/packs/$baseline_sha/signed.exe.tmp" >/dev/null
    mv "$cache/packs/$baseline_sha/signed.exe.tmp" "$cache/packs/$baseline_sha/signed.exe"
  fi
fi

# nsis_build MSI CAB OUT: the NSIS peer for one package.
nsis_build() {
  makensis -V1 -DMSI="$1" -DCAB="$2" -DCAB_NAME="$cab_name" -DPRODUCT_CODE="$product_code" \
    -DOUTFILE="$3" "$here/bench.nsi" >/dev/null
}

# The NSIS stub size: the same installer around two 1-byte files.
if [ ! -f "$cache/nsis-stub/stub.exe" ]; then
  mkdir -p "$cache/nsis-stub"
  printf 'x' >"$cache/nsis-stub/one.msi"
  printf 'x' >"$cache/nsis-stub/one.cab"
  nsis_build "$cache/nsis-stub/one.msi" "$cache/nsis-stub/one.cab" "$cache/nsis-stub/stub.exe"
fi

# make_programs KIND SIZE: the package and every program for one case, in
# $packs/KIND-SIZE/ (NSIS in the package folder, as it does not depend on the
# launcher). Sets case_dir, pkg_dir.
make_programs() {
  local kind=$1 mib=$2
  pkg_dir="$cache/inputs/$kind-$mib"
  case_dir="$packs/$kind-$mib"
  local t=$EPOCHREALTIME
  if [ ! -f "$pkg_dir/ready" ]; then
    log "making the $kind $mib MiB package"
    make_package "$kind" "$mib" "$pkg_dir"
  fi
  if [ ! -f "$pkg_dir/nsis.exe" ]; then
    log "makensis for $kind $mib MiB"
    nsis_build "$pkg_dir/bench.msi" "$pkg_dir/$cab_name" "$pkg_dir/nsis.exe.tmp"
    mv "$pkg_dir/nsis.exe.tmp" "$pkg_dir/nsis.exe"
  fi
  mkdir -p "$case_dir"
  local package=(--msi "$pkg_dir/bench.msi" --cab "$pkg_dir/$cab_name")
  if [ ! -f "$case_dir/appended.exe" ]; then
    log "stubpack, appended form, $kind $mib MiB"
    "$stubpack" pack --launcher "$launcher" --key "$key" --out "$case_dir/appended.exe" \
      "${package[@]}" >"$case_dir/appended.log"
  fi
  if [ ! -f "$case_dir/certtable.exe" ]; then
    log "stubpack, certificate-table form, $kind $mib MiB"
    "$stubpack" pack --launcher "$packs/signed.exe" --key "$key" --out "$case_dir/certtable.exe" \
      "${package[@]}" >"$case_dir/certtable.log"
  fi
  # The certificate-extension form can fail for large payloads in the signing
  # tool; that is recorded and the form is left out of this case.
  if [ ! -f "$case_dir/certext.exe" ] && [ ! -f "$case_dir/certext.failed" ]; then
    log "stubpack + osslsigncode -ac, certificate-extension form, $kind $mib MiB"
    if "$stubpack" pack --key "$key" --certificate-out "$case_dir/payload.pem" "${package[@]}" \
        >"$case_dir/certext.log" 2>&1 &&
       "${sign[@]}" -ac "$case_dir/payload.pem" -in "$launcher" -out "$case_dir/certext.exe.tmp" \
        >>"$case_dir/certext.log" 2>&1; then
      mv "$case_dir/certext.exe.tmp" "$case_dir/certext.exe"
    else
      rm -f "$case_dir/certext.exe.tmp"
      tail -n 3 "$case_dir/certext.log" >"$case_dir/certext.failed"
      log "certificate-extension form failed: $(tail -n1 "$case_dir/certext.log")"
    fi
    rm -f "$case_dir/payload.pem"
  fi
  if [ -n "$baseline" ]; then
    local before="$cache/packs/$baseline_sha/$kind-$mib"
    mkdir -p "$before"
    if [ ! -f "$before/appended.exe" ]; then
      log "stubpack, baseline launcher, appended form, $kind $mib MiB"
      "$stubpack" pack --launcher "$baseline" --key "$key" --out "$before/appended.exe" \
        "${package[@]}" >/dev/null
    fi
    if [ ! -f "$before/certtable.exe" ]; then
      log "stubpack, baseline launcher, certificate-table form, $kind $mib MiB"
      "$stubpack" pack --launcher "$cache/packs/$baseline_sha/signed.exe" --key "$key" \
        --out "$before/certtable.exe" "${package[@]}" >/dev/null
    fi
    ln -f "$before/appended.exe" "$case_dir/before-appended.exe"
    ln -f "$before/certtable.exe" "$case_dir/before-certtable.exe"
  fi
  # The floors' inputs: the two files as one, and its zlib stream.
  if [ ! -f "$pkg_dir/content.z" ]; then
    cat "$pkg_dir/bench.msi" "$pkg_dir/$cab_name" >"$pkg_dir/content.bin"
    python3 -c 'import sys, zlib; open(sys.argv[2], "wb").write(zlib.compress(open(sys.argv[1], "rb").read(), 9))' \
      "$pkg_dir/content.bin" "$pkg_dir/content.z.tmp"
    mv "$pkg_dir/content.z.tmp" "$pkg_dir/content.z"
  fi
  # The compressed payload's size, for the achieved ratio.
  sed -n 's/^payload \([0-9]*\) bytes.*/\1/p' "$case_dir/appended.log" >"$case_dir/payload-bytes"
  log "inputs for $kind $mib MiB ready ($(elapsed "$t")s)"
}

# ------------------------------------------------------ the Wine prefix
# One pristine prefix per Wine version, made once (as the system tests make
# theirs) and cloned for every run of this script.
export WINEDEBUG=-all
export LC_ALL=en_US.UTF-8
wine_version=$(wine --version 2>/dev/null)
pristine="$cache/pristine-${wine_version//[^A-Za-z0-9.]/_}"
export SYSTEST_RUN_DIR="$cache" SYSTEST_LOCALE=$LC_ALL
# shellcheck source=../tests/system/lib.sh
source "$root/tests/system/lib.sh"
export WINEDLLOVERRIDES="mscoree,mshtml=;msiexec.exe=n"
if [ ! -f "$pristine.mutable" ]; then
  log "making a pristine Wine prefix ($wine_version)"
  rm -rf "$pristine" "$pristine.mutable"
  WINEDLLOVERRIDES="mscoree,mshtml=" make_pristine_prefix "$pristine" ||
    { echo "bench-e2e: cannot make a Wine prefix, see $pristine.log" >&2; exit 1; }
fi

scratch=$(mktemp -d "$cache/run.XXXXXX")
prefix="$scratch/prefix"
xvfb_pid=
cleanup() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

clone_prefix "$pristine" "$prefix"
rm -f "$prefix/dosdevices/z:"      # nothing run here reaches the host's /
# The stand-in replaces msiexec.exe; the clone shares program files with the
# pristine prefix through hard links, so the link goes first.
rm -f "$prefix/drive_c/windows/system32/msiexec.exe"
cp "$tools/msiexec.exe" "$prefix/drive_c/windows/system32/msiexec.exe"
benchdir="$prefix/drive_c/bench"
mkdir -p "$benchdir"
cp "$tools/meter.exe" "$tools/floors.exe" "$benchdir/"
export WINEPREFIX=$prefix

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || { echo "bench-e2e: Xvfb did not start" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
DISPLAY=":$(head -n1 "$scratch/display")"
export DISPLAY
# One wineserver for the whole run: it stays up between programs.
wineserver -p

# ------------------------------------------------------------- the runs
target_win="C:\\windows\\Installer\\$product_code"
target_host="$prefix/drive_c/windows/Installer/$product_code"
want_cmdline="c:\\windows\\system32\\msiexec.exe /i $target_win\\main.msi /qn"
want_cmdline=${want_cmdline,,}
results="$scratch/results.tsv"
failures="$scratch/failures.tsv"
printf 'program\tsize\tkind\tround\tproblem\n' >"$failures"
printf 'program\tsize\tkind\tround\texit\twall_ms\tpeak_ws\tfirst_byte_ms\twritten_ms\thandoff_ms\n' >"$results"
floors="$scratch/floors.tsv"
printf 'size\tkind\tround\thash_ms\tcopy_ms\tinflate_ms\n' >"$floors"

# run_floors KIND SIZE ROUND: one measurement of each floor (see above).
run_floors() {
  local kind=$1 mib=$2 round=$3 step ms
  local -A took
  for step in hash copy inflate; do
    local args=('C:\bench\content.bin')
    [ "$step" = copy ] && args+=('C:\bench\copy.bin')
    [ "$step" = inflate ] && args=('C:\bench\content.z')
    sync
    ms=$(wine 'C:\bench\floors.exe' "$step" "${args[@]}" 2>/dev/null | tr -d '\r' | sed -n 's/^MS //p')
    rm -f "$benchdir/copy.bin"
    took[$step]=${ms:--}
  done
  log "$(printf 'floors     %-6s %4s MiB  round %s  hash %s ms, copy %s ms, inflate %s ms' "$kind" "$mib" \
    "$round" "${took[hash]}" "${took[copy]}" "${took[inflate]}")"
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$mib" "$kind" "$round" "${took[hash]}" "${took[copy]}" \
    "${took[inflate]}" >>"$floors"
}

# run_one PROGRAM KIND SIZE ROUND: one measured run of $benchdir/PROGRAM.exe;
# ROUND 0 is the warm-up, which also checks what was extracted. Appends a
# line to $results (not for the warm-up). A run that did not do the whole job
# (wrong exit code, files missing or different, msiexec not started as
# expected) is recorded in $failures and returns 1: the program is left out of
# the rest of the case, and the report names the failure.
run_one() {
  local program=$1 kind=$2 mib=$3 round=$4
  local total out="$scratch/meter.out"
  total=$(cat "$pkg_dir/ready")
  rm -rf "$target_host" "$benchdir/handoff.txt"
  sync
  timeout $((run_timeout + 60)) wine 'C:\bench\meter.exe' --watch "$target_win" --expect "$total" \
    --mark 'C:\bench\handoff.txt' --timeout "$run_timeout" -- "C:\\bench\\$program.exe" /qn \
    >"$out" 2>"$scratch/wine.log" || true
  tr -d '\r' <"$out" >"$out.txt"
  field() { sed -n "s/^$1 //p" "$out.txt"; }
  local code cmdline
  code=$(field EXIT)
  cmdline=$( (sed -n 2p "$benchdir/handoff.txt" 2>/dev/null || true) | tr -d '\r"')
  local problem=
  if [ "$code" != 0 ]; then
    problem="exit code ${code:-none}$(printf ' (0x%X)' "${code:-0}")$(grep -m1 -E '^(TIMEOUT|ERROR)' "$out.txt" | sed 's/^/ /' || true)"
  elif [ "$(field WATCH_BYTES)" != "$total" ]; then
    problem="wrote $(field WATCH_BYTES) bytes, not $total"
  elif [ "${cmdline,,}" != "$want_cmdline" ]; then
    problem="msiexec started as '$cmdline'"
  elif [ "$round" = 0 ] && ! { cmp -s "$target_host/main.msi" "$pkg_dir/bench.msi" &&
                               cmp -s "$target_host/$cab_name" "$pkg_dir/$cab_name"; }; then
    problem="the extracted files differ from the package"
  fi
  if [ -n "$problem" ]; then
    log "FAILED: $program ($kind, $mib MiB, $([ "$round" = 0 ] && echo warm-up || echo "round $round")): $problem"
    sed 's/^/    /' "$out.txt" >&2
    printf '%s\t%s\t%s\t%s\t%s\n' "$program" "$mib" "$kind" "$round" "$problem" >>"$failures"
    return 1
  fi
  log "$(printf '%-10s %-6s %4s MiB  %s  %8.0f ms  peak %6.1f MiB' "$program" "$kind" "$mib" \
    "$([ "$round" = 0 ] && echo warm-up || echo "round $round")" "$(field WALL_MS)" \
    "$(awk -v b="$(field PEAK_WS)" 'BEGIN { print b / 1048576 }')")"
  [ "$round" = 0 ] && return 0
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$program" "$mib" "$kind" "$round" "$code" \
    "$(field WALL_MS)" "$(field PEAK_WS)" "$(field FIRST_BYTE_MS)" "$(field WRITTEN_MS)" \
    "$(field HANDOFF_MS)" >>"$results"
}

cases="$scratch/cases.tsv"
printf 'size\tkind\ttotal\tpayload\tcertext\n' >"$cases"
for mib in $sizes; do
  for kind in $kinds; do
    make_programs "$kind" "$mib"
    programs=(appended nsis certtable)
    [ -f "$case_dir/certext.exe" ] && programs+=(certext)
    [ -n "$baseline" ] && programs+=(before-appended before-certtable)
    # Hard links: the large programs are not copied into the prefix.
    rm -f "$benchdir"/{appended,nsis,certtable,certext,before-appended,before-certtable}.exe
    for p in appended certtable certext before-appended before-certtable; do
      [ -f "$case_dir/$p.exe" ] && { ln "$case_dir/$p.exe" "$benchdir/$p.exe" 2>/dev/null ||
                                     cp "$case_dir/$p.exe" "$benchdir/$p.exe"; }
    done
    ln "$pkg_dir/nsis.exe" "$benchdir/nsis.exe" 2>/dev/null || cp "$pkg_dir/nsis.exe" "$benchdir/nsis.exe"
    rm -f "$benchdir/content.bin" "$benchdir/content.z"
    ln "$pkg_dir/content.bin" "$benchdir/content.bin" 2>/dev/null || cp "$pkg_dir/content.bin" "$benchdir/"
    ln "$pkg_dir/content.z" "$benchdir/content.z" 2>/dev/null || cp "$pkg_dir/content.z" "$benchdir/"
    printf '%s\t%s\t%s\t%s\t%s\n' "$mib" "$kind" "$(cat "$pkg_dir/ready")" \
      "$(cat "$case_dir/payload-bytes")" \
      "$([ -f "$case_dir/certext.failed" ] && tail -n1 "$case_dir/certext.failed" | tr '\t' ' ' || echo ok)" \
      >>"$cases"
    working=()
    for p in "${programs[@]}"; do
      if run_one "$p" "$kind" "$mib" 0; then working+=("$p"); fi
    done
    for ((r = 1; r <= rounds; r++)); do
      # Rotate the order each round, so no program always follows the same one.
      n=${#working[@]}
      for ((i = 0; i < n; i++)); do
        p=${working[$(((i + r - 1) % n))]}
        [ -n "$p" ] || continue
        if ! run_one "$p" "$kind" "$mib" "$r"; then
          for j in "${!working[@]}"; do
            if [ "${working[$j]}" = "$p" ]; then working[j]=; fi
          done
        fi
      done
      run_floors "$kind" "$mib" "$r"
    done
    rm -f "$benchdir/content.bin" "$benchdir/content.z"
    rm -rf "$target_host"
  done
done
rm -f "$benchdir"/{appended,nsis,certtable,certext,before-appended,before-certtable}.exe

# ------------------------------------------------------------ the report
# The commit of this tree, and the last one that changed anything but the
# documentation and this benchmark (what the launcher measured was built from,
# when it was built from this tree); docs/ changes do not count as uncommitted.
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
sources=$(git -C "$root" log -1 --format=%h -- . ':!docs' ':!bench/e2e' ':!scripts/bench-e2e.sh' \
  ':!README.md' 2>/dev/null || true)
[ -n "$sources" ] && [ "$sources" != "$commit" ] && commit="$commit (other sources as of $sources)"
git -C "$root" diff --quiet HEAD -- . ':!docs' 2>/dev/null || commit="$commit with uncommitted changes"
machine="$scratch/machine.txt"
{
  printf 'date\t%s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
  printf 'commit\t%s\n' "$commit"
  printf 'cpu\t%s\n' "$(lscpu | sed -n 's/^Model name: *//p' | head -n1)"
  printf 'cpus\t%s\n' "$(lscpu | sed -n 's/^CPU(s): *//p' | head -n1)"
  printf 'memory\t%s\n' "$(free -g | awk '/^Mem:/ { print $2 " GiB" }')"
  printf 'os\t%s\n' "$(. /etc/os-release && echo "$PRETTY_NAME"), kernel $(uname -r)"
  printf 'wine\t%s\n' "$wine_version"
  printf 'makensis\t%s\n' "$(makensis -VERSION)"
  printf 'launcher\t%s\n' "$launcher"
  printf 'launcher_size\t%s\n' "$(stat -c %s "$launcher")"
  printf 'launcher_sha\t%s\n' "$launcher_sha"
  [ -n "$baseline" ] && printf 'baseline\t%s\n' "$baseline"
  [ -n "$baseline" ] && printf 'baseline_size\t%s\n' "$(stat -c %s "$baseline")"
  printf 'nsis_stub_size\t%s\n' "$(stat -c %s "$cache/nsis-stub/stub.exe")"
  printf 'rounds\t%s\n' "$rounds"
  printf 'load\t%s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
} >"$machine"
doc_args=()
[ "$write_doc" = 1 ] && doc_args=(--doc "$root/docs/performance.md")
python3 "$here/report.py" --results "$results" --cases "$cases" --failures "$failures" \
  --floors "$floors" --machine "$machine" \
  --launcher "$launcher" "${doc_args[@]}"
# Everything the report was made from, so it can be made again:
#   python3 bench/e2e/report.py --results DIR/runs.tsv --cases DIR/cases.tsv \
#     --failures DIR/failures.tsv --floors DIR/floors.tsv --machine DIR/machine.txt \
#     --launcher ...
kept="$cache/results/$(date -u +%Y%m%dT%H%M%S)"
mkdir -p "$kept"
cp "$results" "$kept/runs.tsv"
cp "$cases" "$failures" "$floors" "$machine" "$kept/"
log "done in $(elapsed "$bench_start")s${doc_args:+; docs/performance.md updated}"
