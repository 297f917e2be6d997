#!/usr/bin/env bash
# Fails when an #include points up the layer order of the source tree:
#
#   platform < base < payload < manifest < extraction < installer < launcher < tools
#
# A file may include its own layer and those below it. resources/ (ids shared
# by code and resource script) may be included from any layer. Test helpers
# (testing/), fuzz targets (fuzz/) and benchmarks (bench/) sit above
# everything; a unit test (*_test.cpp) may include testing/ besides its own
# layer and those below.
#
#   scripts/check-layers.sh [ROOT]     (default: the repository)
set -euo pipefail
root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
cd "$root"

rank() {
  case "$1" in
    platform) echo 0 ;; base) echo 1 ;; payload) echo 2 ;; manifest) echo 3 ;;
    extraction) echo 4 ;; installer) echo 5 ;; launcher) echo 6 ;; tools) echo 7 ;;
    testing|fuzz|bench) echo 8 ;;
    *) echo "" ;;
  esac
}

bad=0
while IFS= read -r file; do
  top="${file%%/*}"
  own=$(rank "$top")
  [ -n "$own" ] || continue
  while IFS= read -r line; do
    number="${line%%:*}"
    target="${line#*#include \"}"
    target="${target%%\"*}"
    [ "$target" != "${target#*/}" ] || continue  # a file of the same folder
    dir="${target%%/*}"
    [ "$dir" = resources ] && continue
    if [ "$dir" = testing ] && [[ "$file" == *_test.cpp ]]; then continue; fi
    theirs=$(rank "$dir")
    [ -n "$theirs" ] || continue
    if [ "$theirs" -gt "$own" ]; then
      echo "$file:$number: includes $target, a layer above $top" >&2
      bad=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find platform base payload manifest extraction installer launcher tools testing fuzz bench \
           -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) 2>/dev/null | sort)

if [ "$bad" -ne 0 ]; then
  echo "check-layers: includes must point down: platform < base < payload < manifest < extraction < installer < launcher < tools" >&2
  exit 1
fi
echo "check-layers: every include points down"
