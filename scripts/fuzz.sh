#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in their own build folder and runs each for a
# bounded time over the committed seed corpus (fuzz/corpus/<target>/).
# Exits nonzero on any finding (crash, leak, sanitizer report, timeout).
#
#   scripts/fuzz.sh [SECONDS]        default 30 seconds per target
#   scripts/fuzz.sh --make-corpus    rewrites fuzz/corpus from the fixtures
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MSISTUB_FUZZ_BUILD:-$root/build-fuzz}"

if [ "${1:-}" = "--make-corpus" ]; then
  cmake -S "$root" -B "$root/build-corpus" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$root/build-corpus" --target fuzz_corpus_maker -j2 >/dev/null
  rm -rf "$root/fuzz/corpus"
  mkdir -p "$root/fuzz/corpus/find_block" "$root/fuzz/corpus/load_payload_sources"
  "$root/build-corpus/fuzz/fuzz_corpus_maker" "$root/fuzz/corpus"
  # Packages as wixl writes them (string pool without a code page) and with
  # a code page set by msibuild.
  seeds="$root/fuzz/corpus/msi_string_pool" sample=$(mktemp -d)
  mkdir -p "$seeds"
  "$root/examples/build-sample.sh" "$sample" >/dev/null
  cp "$sample/en/demo.msi" "$seeds/codepage_0"
  cp "$sample/en/demo.msi" "$sample/codepage_1252.msi"
  printf '\r\n\r\n1252\t_ForceCodepage\r\n' >"$sample/codepage.idt"
  (cd "$sample" && msibuild codepage_1252.msi -i codepage.idt)
  cp "$sample/codepage_1252.msi" "$seeds/codepage_1252"
  rm -rf "$sample"
  exit 0
fi

seconds="${1:-30}"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -g -O1"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DMSISTUB_FUZZ=ON -DMSISTUB_FUZZ_SECONDS="$seconds" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" --target fuzz_find_block fuzz_load_payload_sources fuzz_msi_string_pool -j2
ctest --test-dir "$build" -L fuzz --output-on-failure
