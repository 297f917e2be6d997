#!/usr/bin/env bash
# Makes the release packages from the sources as they are:
#
#   scripts/release.sh [OUT_DIR]          (default: build-release)
#
# OUT_DIR/win and OUT_DIR/host are the two builds; the packages go to OUT_DIR:
#   msistub-VERSION-win64.zip   stubpack.exe, launcher.exe and the docs
#   msistub_VERSION_ARCH.deb    stubpack, its man page, the launcher, the docs
#   SHA256SUMS                  both packages
#   LAUNCHER-DIGEST             the release launcher's image digest: what every
#                               copy stamped with a publisher's key shows
# The launcher is built without a key (stubpack stamp writes the publisher's).
# SOURCE_DATE_EPOCH, from the environment or else the last commit's time (0
# without git), is the time in the programs and in every archive, so two runs
# on the same sources give the same bytes in any folder.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/build-release}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
jobs="${JOBS:-2}"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=0
fi
export SOURCE_DATE_EPOCH
# Files and folders the builds make get the same permissions on every machine.
umask 022

logged() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { echo "release: $* failed:" >&2; tail -n 30 "$log" >&2; exit 1; }
}

echo "release: SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH, into $out"
logged "$out/win.log" cmake -S "$root" -B "$out/win" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel \
  -DMSISTUB_PUBLIC_KEY=
logged "$out/win-build.log" cmake --build "$out/win" -j "$jobs" --target launcher stubpack
logged "$out/win-cpack.log" cpack -B "$out/win/packages" --config "$out/win/CPackConfig.cmake"

logged "$out/host.log" cmake -S "$root" -B "$out/host" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS= -DMSISTUB_RELEASE_LAUNCHER="$out/win/launcher.exe"
logged "$out/host-build.log" cmake --build "$out/host" -j "$jobs" --target stubpack man_page
logged "$out/host-cpack.log" cpack -B "$out/host/packages" --config "$out/host/CPackConfig.cmake"

rm -f "$out"/*.zip "$out"/*.deb
cp "$out"/win/packages/*.zip "$out"/host/packages/*.deb "$out/"
(cd "$out" && sha256sum -- *.deb *.zip >SHA256SUMS)
"$out/host/stubpack" digest "$out/win/launcher.exe" >"$out/LAUNCHER-DIGEST"
echo "release: $(cd "$out" && ls -- *.deb *.zip | tr '\n' ' ')"
echo "release: launcher image digest $(cat "$out/LAUNCHER-DIGEST")"
