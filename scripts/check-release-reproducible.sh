#!/usr/bin/env bash
# Checks that the release packages build to the same bytes elsewhere: copies
# the sources (tracked and untracked files, as they are now) to a fresh
# folder whose name holds a space, runs scripts/release.sh there without the
# compiler cache, and compares the packages, SHA256SUMS and LAUNCHER-DIGEST
# with those of RELEASE_DIR byte for byte.
#
#   scripts/check-release-reproducible.sh RELEASE_DIR
#
# Both runs must take the same SOURCE_DATE_EPOCH: the copy is no git checkout,
# so it gets the one of this checkout (the environment's, else the commit's
# time, else 0), as release.sh does. Exit status 0 when everything matches.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [ $# -ne 1 ] || [ ! -f "$1/SHA256SUMS" ]; then
  echo "usage: $0 RELEASE_DIR (made by scripts/release.sh)" >&2
  exit 2
fi
first="$(cd "$1" && pwd)"
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=0
fi
export SOURCE_DATE_EPOCH

scratch=$(mktemp -d /tmp/msistub-release.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/source folder"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do if [ -e "$f" ]; then printf '%s\0' "$f"; fi; done |
  tar --null -T - -cf -) | tar -xf - -C "$scratch/source folder"

CCACHE_DISABLE=1 "$scratch/source folder/scripts/release.sh" "$scratch/other release" \
  >"$scratch/release.log" 2>&1 || {
  echo "release-reproducible: the second release build fails:" >&2
  tail -n 20 "$scratch/release.log" >&2
  exit 1
}

status=0
for file in "$first"/*.deb "$first"/*.zip "$first/SHA256SUMS" "$first/LAUNCHER-DIGEST"; do
  name=$(basename "$file")
  if cmp -s "$file" "$scratch/other release/$name"; then
    echo "release-reproducible: $name is the same byte for byte ($(stat -c %s "$file") bytes)"
  else
    echo "release-reproducible: $name differs from a second release build" >&2
    status=1
  fi
done
exit "$status"
