#!/usr/bin/env bash
# Builds the sample installer packages into OUTDIR:
#   OUTDIR/en/demo.msi   OUTDIR/en/demo.cab    "Demo Product", language 1033
#   OUTDIR/de/demo.msi   OUTDIR/de/demo.cab    "Demo Produkt", language 1031
#   OUTDIR/fail/fail.msi OUTDIR/fail/fail.cab  "Demo Failure", ends with 1603
# Needs wixl, gcab and msitools (msibuild, msiinfo), all installed by
# scripts/setup.sh. Prints one line per package; exits 1 naming the first
# missing tool, or with the failing tool's own message when a step fails.
set -euo pipefail

usage() { echo "usage: $0 OUTDIR" >&2; exit 2; }
if [ $# -ne 1 ] || [ -z "$1" ]; then usage; fi

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$1"

for tool in wixl gcab msibuild msiinfo; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "build-sample: '$tool' not found; run scripts/setup.sh (packages wixl, gcab, msitools)" >&2
    exit 1
  fi
done

# File times stored in the cabinets; fixed so that a rebuild gives the same
# cabinet bytes. SOURCE_DATE_EPOCH overrides it, as for other reproducible builds.
epoch="${SOURCE_DATE_EPOCH:-1704067200}"   # 2024-01-01 00:00:00 UTC

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# summary_field MSI NAME: prints the value of one "Name: value" line of msiinfo suminfo.
summary_field() {
  msiinfo suminfo "$1" | sed -n "s/^$2: //p"
}

# set_summary MSI TEMPLATE CODE: wixl writes the template as "<arch>;1033"
# whatever the package languages are, and draws a random package code
# (revision number) on every build; set both, keeping subject and author.
set_summary() {
  local msi="$1" template="$2" code="$3"
  msibuild "$msi" -s "$(summary_field "$msi" Subject)" "$(summary_field "$msi" Author)" \
    "$template" "$code"
}

# make_cab CAB SOURCE_DIR ID=FILE...: packs each FILE (relative to SOURCE_DIR)
# into CAB under the name ID, the key of its row in the File table, which is
# how Windows Installer looks files up in a cabinet.
make_cab() {
  local cab="$1" src="$2" stage
  shift 2
  stage="$work/stage"
  rm -rf "$stage"
  mkdir -p "$stage"
  local names=() pair
  for pair in "$@"; do
    cp "$src/${pair#*=}" "$stage/${pair%%=*}"
    touch -d "@$epoch" "$stage/${pair%%=*}"
    names+=("${pair%%=*}")
  done
  rm -f "$cab"
  (cd "$stage" && gcab -c -z -n "$cab" "${names[@]}")
}

# describe LABEL MSI CAB [NOTE]: the one line printed per package, read back
# from the package itself.
describe() {
  local props
  props="$(msiinfo export "$2" Property)"
  echo "$1: $2 + $3: $(sed -n 's/^ProductName\t//p' <<<"$props"), $(summary_field "$2" Template)," \
    "$(sed -n 's/^ProductCode\t//p' <<<"$props")${4:+, $4}"
}

# build_demo DIR LANGUAGE README PACKAGE_CODE: one language build of the Demo product.
build_demo() {
  local dir="$out/$1" lang="$2" readme="$3" code="$4"
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  wixl -a x64 -D Language="$lang" -o "$dir/demo.msi" "$here/demo/demo.wxs"
  set_summary "$dir/demo.msi" "x64;$lang" "$code"
  make_cab "$dir/demo.cab" "$here/demo/files" "ReadmeFile=$readme" "VersionFile=version.txt"
  describe "$1" "$dir/demo.msi" demo.cab
}

build_fail() {
  local dir="$out/fail"
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  wixl -a x64 -o "$dir/fail.msi" "$here/fail/fail.wxs"
  # Type 19: end the installation with the given error text.
  msibuild "$dir/fail.msi" \
    -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('FailOnPurpose', 19, '', 'This package fails on purpose.')" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('FailOnPurpose', 'NOT Installed', 4001)"
  set_summary "$dir/fail.msi" "x64;1033" "{3F2DCB74-494A-4203-A941-545FE6E68E5C}"
  make_cab "$dir/fail.cab" "$here/fail/files" "FailFile=fail.txt"
  describe fail "$dir/fail.msi" fail.cab "ends with 1603"
}

build_demo en 1033 readme-en.txt "{5D35ACE1-442E-41C3-A2FE-0BED35E9A594}"
build_demo de 1031 readme-de.txt "{49D451DB-560E-42C3-82E5-5906DF177D72}"
build_fail
