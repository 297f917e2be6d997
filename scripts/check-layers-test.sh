#!/usr/bin/env bash
# Tests scripts/check-layers.sh on small planted trees: downward includes,
# resources and test helpers pass; an upward include, also from a header or a
# test, fails and is named.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# plant FILE LINE...: writes a file of the planted tree.
plant() { local f="$work/tree/$1"; shift; mkdir -p "$(dirname "$f")"; printf '%s\n' "$@" >"$f"; }

# expect pass|fail NAME [NEEDLE]: runs the check on the planted tree.
expect() {
  local want=$1 name=$2 needle=${3:-} got=pass
  "$here/check-layers.sh" "$work/tree" >"$work/out" 2>&1 || got=fail
  if [ "$got" != "$want" ] || { [ -n "$needle" ] && ! grep -qF "$needle" "$work/out"; }; then
    echo "FAIL $name: wanted $want${needle:+ naming '$needle'}, got $got:"; cat "$work/out"
    failures=$((failures + 1))
  else
    echo "PASS $name"
  fi
}

rm -rf "$work/tree"
plant platform/platform.h '#pragma once'
plant base/status.h '#include "platform/platform.h"'
plant payload/block.h '#include "base/status.h"' '#include <cstdint>'
plant manifest/walk.cpp '#include "payload/block.h"' '#include "walk.h"'
plant launcher/launch.cpp '#include "installer/run.h"' '#include "resources/resource.h"'
plant payload/block_test.cpp '#include "testing/fixture.h"'
plant testing/fixture.h '#include "launcher/launch.h"'
plant tools/stubpack/cli.cpp '#include "launcher/launch.h"'
expect pass "downward includes, resources and test helpers"

plant payload/block.h '#include "base/status.h"' '  #include "manifest/walk.h"'
expect fail "a header includes a layer above" "payload/block.h:2: includes manifest/walk.h"

plant payload/block.h '#include "base/status.h"'
plant extraction/folder_test.cpp '#include "launcher/launch.h"'
expect fail "a test includes a layer above" "extraction/folder_test.cpp:1"

rm "$work/tree/extraction/folder_test.cpp"
plant base/holders.h '#include "payload/block.h"'
expect fail "base includes payload" "base/holders.h:1"

[ "$failures" -eq 0 ]
