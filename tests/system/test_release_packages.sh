#!/bin/bash
# The release packages of scripts/release.sh (RELEASE_DIR, default the
# repository's build-release/), used as a publisher would, with nothing built
# from source:
# - the Debian package, installed with apt-get as root: from an empty folder,
#   keygen, stamp (the installed release launcher), sign with osslsigncode and
#   a throwaway certificate, pack the sample product, inspect; the setup
#   installs under Wine; purging the package leaves none of its files;
# - the Windows zip's stubpack.exe under Wine, in both payload forms: keygen,
#   stamp (the launcher.exe beside it), sign, pack, inspect, install.
# Every stamped copy shows the digest the release publishes (LAUNCHER-DIGEST).
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/e2e_inputs.sh"
e2e_inputs || { echo "FAIL $TEST_NAME: the inputs cannot be made"; exit 1; }

RELEASE_DIR=${RELEASE_DIR:-$E2E_ROOT/build-release}
RELEASE_DIGEST=$(cut -d' ' -f1 "$RELEASE_DIR/LAUNCHER-DIGEST" 2>/dev/null)

# released NAME_GLOB: sets RELEASED to the one package of RELEASE_DIR
# matching it, checked against SHA256SUMS; a failed check otherwise.
released() {
  local files=("$RELEASE_DIR"/$1)
  RELEASED=
  [ ${#files[@]} = 1 ] && [ -f "${files[0]}" ] || { fail "no $1 in $RELEASE_DIR"; return 1; }
  (cd "$RELEASE_DIR" && grep " $(basename "${files[0]}")\$" SHA256SUMS | sha256sum -c --quiet -) \
    >>"$CASE_ARTIFACTS/sums.log" 2>&1 || { fail "$(basename "${files[0]}") fails SHA256SUMS"; return 1; }
  RELEASED=${files[0]}
}

# sign IN OUT [EXTRA_CERTIFICATE]: osslsigncode with a throwaway certificate
# made in the current folder on first use.
sign() {
  [ -f sign.crt ] || openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 \
    -subj '/CN=Release Test Publisher' -addext extendedKeyUsage=codeSigning \
    -keyout sign.key -out sign.crt >>"$CASE_ARTIFACTS/sign.log" 2>&1
  osslsigncode sign -certs sign.crt -key sign.key -h sha256 ${3:+-ac "$3"} -in "$1" -out "$2" \
    >>"$CASE_ARTIFACTS/sign.log" 2>&1
}

# installs SETUP: the setup installs the English sample product under Wine.
installs() {
  e2e_case "$1"
  run_probe "$CASE_PREFIX" -- "C:\\setup\\$(basename "$1")" /qn
  assert_exit 0
  assert_registered "$EN_CODE" "$EN_NAME"
  assert_file 'C:\Program Files\Demo\readme.txt' 'This is the sample product'
}

# same_digest DIGEST WHAT: DIGEST is the release launcher's.
same_digest() {
  [ -n "$RELEASE_DIGEST" ] || { fail "no LAUNCHER-DIGEST in $RELEASE_DIR"; return; }
  [ "$1" = "$RELEASE_DIGEST" ] || fail "$2 has digest $1, the release launcher $RELEASE_DIGEST"
}

# ------------------------------------------------------------------ Debian

case_debian_package() {
  local deb
  released 'msistub_*.deb' || return
  deb=$RELEASED
  [ "$(id -u)" = 0 ] || { fail "installing a Debian package needs root"; return; }
  if dpkg-query -W -f '${Status}' msistub 2>/dev/null | grep -q installed; then
    fail "msistub is installed already; this test installs and removes it itself"
    return
  fi
  dpkg-query -W -f '${Package}\n' | sort >"$CASE_DIR/packages-before"
  DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb" >"$CASE_ARTIFACTS/apt-install.log" 2>&1 ||
    { fail "apt-get install $(basename "$deb") fails: $(tail -n1 "$CASE_ARTIFACTS/apt-install.log")"; return; }
  dpkg -L msistub >"$CASE_ARTIFACTS/files.txt"
  publish_with_the_debian_package
  remove_debian_package
}

publish_with_the_debian_package() {
  local work=$CASE_DIR/publisher digest
  mkdir "$work"
  grep -qx /usr/share/man/man1/stubpack.1.gz "$CASE_ARTIFACTS/files.txt" || fail "no man page"
  grep -qx /usr/share/doc/msistub/publishing.md "$CASE_ARTIFACTS/files.txt" || fail "no docs"
  [ "$(command -v stubpack)" = /usr/bin/stubpack ] || fail "stubpack is not /usr/bin/stubpack on the PATH"
  # The publisher's own folder: nothing in it but what they make.
  (
    cd "$work" && export PATH=/usr/bin:/bin
    set -e
    stubpack keygen --out keys
    stubpack stamp --key keys/public.pem --out launcher.exe
    sign launcher.exe signed.exe
    stubpack pack --launcher signed.exe --key keys/private.pem --out setup.exe \
      --msi "$E2E_DIR/sample/en/demo.msi" --msi "$E2E_DIR/sample/de/demo.msi"
    stubpack inspect setup.exe >inspect.txt
    stubpack digest setup.exe >digest.txt
  ) >"$CASE_ARTIFACTS/publisher.log" 2>&1 ||
    { fail "the publisher's steps fail: $(tail -n1 "$CASE_ARTIFACTS/publisher.log")"; return; }
  cp "$work/inspect.txt" "$CASE_ARTIFACTS/"
  grep -q "^stamped /usr/share/msistub/launcher.exe " "$CASE_ARTIFACTS/publisher.log" ||
    fail "stamp did not take the installed release launcher"
  osslsigncode verify -CAfile "$work/sign.crt" -in "$work/setup.exe" >"$CASE_ARTIFACTS/verify.log" 2>&1 ||
    fail "the signature of setup.exe does not verify"
  digest=$(cat "$work/digest.txt")
  same_digest "$digest" setup.exe
  grep -q "^digest: *$digest " "$work/inspect.txt" || fail "inspect shows another digest"
  grep -q "^key: *[0-9a-f]\{16\} " "$work/inspect.txt" || fail "inspect shows no key fingerprint"
  installs "$work/setup.exe"
}

# Purges the package (and whatever apt-get installed for it); none of its
# files may remain, and no folder it made unless another package owns it.
remove_debian_package() {
  local path new
  DEBIAN_FRONTEND=noninteractive apt-get purge -y msistub >"$CASE_ARTIFACTS/apt-purge.log" 2>&1 ||
    fail "apt-get purge msistub fails"
  new=$(dpkg-query -W -f '${Package}\n' | sort | comm -13 "$CASE_DIR/packages-before" -)
  if [ -n "$new" ]; then
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get purge -y $new >>"$CASE_ARTIFACTS/apt-purge.log" 2>&1 ||
      fail "cannot purge what apt-get installed with msistub: $new"
  fi
  ! dpkg-query -W -f '${Status}' msistub 2>/dev/null | grep -q installed ||
    fail "msistub is still installed"
  while IFS= read -r path; do
    [ "$path" = /. ] && continue
    [ -e "$path" ] || continue
    if [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1; then continue; fi
    fail "left behind: $path"
  done <"$CASE_ARTIFACTS/files.txt"
}

# ------------------------------------------------------------------ zip

# The zip unpacked into the case, and a work folder with the packages.
unpack_zip() {
  local zip
  released 'msistub-*-win64.zip' || return 1
  zip=$RELEASED
  mkdir -p "$CASE_DIR/zip" "$CASE_DIR/work"
  unzip -q "$zip" -d "$CASE_DIR/zip" || { fail "cannot unzip $(basename "$zip")"; return 1; }
  STUBPACK_EXE=$(echo "$CASE_DIR"/zip/msistub-*-win64/stubpack.exe)
  [ -f "$STUBPACK_EXE" ] || { fail "no stubpack.exe in the zip"; return 1; }
  [ -f "$(dirname "$STUBPACK_EXE")/launcher.exe" ] || { fail "no launcher.exe in the zip"; return 1; }
  cp -r "$E2E_DIR/sample" "$CASE_DIR/work/"
}

# win_stubpack ARGS...: the zip's stubpack.exe under Wine in the work folder.
win_stubpack() {
  (cd "$CASE_DIR/work" && in_prefix "$CASE_PREFIX" wine "$STUBPACK_EXE" "$@") \
    >>"$CASE_ARTIFACTS/stubpack.log" 2>&1 ||
    { fail "stubpack.exe $1 fails: $(tail -n1 "$CASE_ARTIFACTS/stubpack.log")"; return 1; }
}

# keygen and stamp the launcher beside stubpack.exe; its digest is the release's.
zip_stamped_launcher() {
  local digest
  win_stubpack keygen --out keys &&
    win_stubpack stamp --key 'keys\public.pem' --out launcher.exe || return 1
  grep -q 'stamped .*launcher.exe with the key' "$CASE_ARTIFACTS/stubpack.log" ||
    fail "stamp names no launcher"
  digest=$(in_prefix "$CASE_PREFIX" wine "$STUBPACK_EXE" digest "$(winpath "$CASE_DIR/work/launcher.exe")" |
    tr -d '\r')
  same_digest "$digest" "the stamped launcher"
}

case_zip_appended() {
  unpack_zip && zip_stamped_launcher || return
  (cd "$CASE_DIR/work" && sign launcher.exe signed.exe) || { fail "cannot sign"; return; }
  win_stubpack pack --launcher signed.exe --key 'keys\private.pem' --out setup.exe \
    --msi 'sample\en\demo.msi' --msi 'sample\de\demo.msi' &&
    win_stubpack inspect setup.exe || return
  installs "$CASE_DIR/work/setup.exe"
}

case_zip_certificate() {
  unpack_zip && zip_stamped_launcher || return
  win_stubpack pack --key 'keys\private.pem' --certificate-out payload.pem \
    --msi 'sample\en\demo.msi' --msi 'sample\de\demo.msi' || return
  (cd "$CASE_DIR/work" && sign launcher.exe setup.exe payload.pem) || { fail "cannot sign"; return; }
  win_stubpack inspect setup.exe || return
  grep -q "a certificate extension of the signature" "$CASE_ARTIFACTS/stubpack.log" ||
    fail "inspect does not find the payload in the certificate"
  installs "$CASE_DIR/work/setup.exe"
}

run_case "Debian package: install, publish from an empty folder, purge" case_debian_package
run_case "zip under Wine: appended payload" case_zip_appended
run_case "zip under Wine: payload certificate" case_zip_certificate
finish
