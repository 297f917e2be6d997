#!/usr/bin/env bash
# Runs every test tier from nothing: installs what is missing, builds the host
# and Windows targets, runs the unit and tool tests, the import check, a
# second Windows build compared byte for byte with the first, the release
# packages built twice and compared, the fuzzers (bounded) and the system
# tests under Wine (among them the release packages installed and used).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
jobs="${JOBS:-2}"

step() { printf '\n== %s\n' "$*"; }

step "setup"
scripts/setup.sh

step "layer order (includes point down)"
scripts/check-layers-test.sh >/dev/null
scripts/check-layers.sh

step "host build (unit and tool tests, AddressSanitizer + UBSan)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined" >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

step "ThreadSanitizer build (block stream, hashing worker and writer tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread" -DCMAKE_C_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build-tsan -j "$jobs" --target payload_tests extraction_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build-tsan/payload/payload_tests --gtest_brief=1
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build-tsan/extraction/extraction_tests --gtest_brief=1

step "Windows build (the system tests' launcher carries the development key)"
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DMSISTUB_PUBLIC_KEY="$root/keys/dev_public.pem" >/dev/null
cmake --build build-win -j "$jobs"
scripts/check-imports-test.sh >/dev/null
scripts/check-imports.sh build-win/launcher.exe
scripts/check-imports.sh build-win/stubpack.exe

step "reproducible Windows build (the sources copied elsewhere, built again later)"
scripts/check-reproducible.sh build-win

step "release packages (deb and zip), and a second release build compared byte for byte"
scripts/release.sh "$root/build-release"
scripts/check-release-reproducible.sh "$root/build-release"

if [ -x scripts/fuzz.sh ]; then
  step "fuzzing (bounded)"
  scripts/fuzz.sh
fi

if [ -x tests/system/run.sh ]; then
  step "system tests under Wine"
  tests/system/run.sh "$root/build-win"
fi

step "all tests passed"
