#!/usr/bin/env bash
# Checks that the Windows programs build to the same bytes elsewhere and later:
# copies the sources (tracked and untracked files, as they are now) to a fresh
# folder, builds launcher.exe and stubpack.exe there with the build type and
# public key of WINBUILD_DIR, and compares both with WINBUILD_DIR's byte for
# byte, and that neither names a folder of this machine (sources, build,
# home, dependency cache).
#
#   scripts/check-reproducible.sh WINBUILD_DIR
#
# The copy is no git checkout, so it gets SOURCE_DATE_EPOCH from here: the
# one in the environment, else the commit's time, else 0, which is what the
# first build must have taken by itself. Exit status 0 when both files match.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ $# -ne 1 ] || [ ! -f "$1/CMakeCache.txt" ]; then
  echo "usage: $0 WINBUILD_DIR (a configured MinGW build folder)" >&2
  exit 2
fi
first="$(cd "$1" && pwd)"
cached() { sed -n "s/^$1:[A-Z]*=//p" "$first/CMakeCache.txt"; }

epoch=${SOURCE_DATE_EPOCH:-}
if [ -z "$epoch" ]; then
  epoch=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || epoch=0
fi

scratch=$(mktemp -d /tmp/msistub-reproducible.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/source folder"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$root" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do if [ -e "$f" ]; then printf '%s\0' "$f"; fi; done |
    tar --null -T - -cf -) | tar -xf - -C "$scratch/source folder"
else
  (cd "$root" && tar --exclude='./build*' --exclude=./out -cf - .) | tar -xf - -C "$scratch/source folder"
fi

# The build folder lies outside the copied sources, unlike the usual build-win,
# and both names hold a space, as a user's folders may.
SOURCE_DATE_EPOCH=$epoch cmake -S "$scratch/source folder" -B "$scratch/other build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$scratch/source folder/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE="$(cached CMAKE_BUILD_TYPE)" \
  -DMSISTUB_PUBLIC_KEY="$(cached MSISTUB_PUBLIC_KEY)" >"$scratch/build.log" 2>&1 &&
  cmake --build "$scratch/other build" -j "${JOBS:-2}" --target launcher stubpack \
    >>"$scratch/build.log" 2>&1 || {
  echo "reproducible: the second build fails:" >&2
  tail -n 20 "$scratch/build.log" >&2
  exit 1
}

status=0
for program in launcher.exe stubpack.exe; do
  if cmp -s "$first/$program" "$scratch/other build/$program"; then
    echo "reproducible: $program is the same byte for byte ($(stat -c %s "$first/$program") bytes)"
  else
    echo "reproducible: $program differs from a second build (cmp -l):" >&2
    cmp -l "$first/$program" "$scratch/other build/$program" 2>&1 | head -n 10 >&2
    status=1
  fi
done
for program in launcher.exe stubpack.exe; do
  for folder in "$root" "$first" "$scratch" "$HOME/"; do
    [ "${#folder}" -gt 2 ] || continue
    if grep -qaF "$folder" "$first/$program" "$scratch/other build/$program"; then
      echo "reproducible: $program names the build machine's folder $folder" >&2
      status=1
    fi
  done
done
exit "$status"
