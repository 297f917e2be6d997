#!/usr/bin/env bash
# Tests scripts/check-imports.sh on small programs built here: one that
# imports only KnownDLLs passes; one that imports bcrypt.dll, crypt32.dll or
# an OpenSSL DLL fails and names it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# build NAME [LIBS...]: a program calling one procedure of each library.
build() {
  local name=$1
  shift
  x86_64-w64-mingw32-gcc -o "$work/$name.exe" "$work/$name.c" "$@" 2>"$work/$name.log" || {
    echo "FAIL $name: cannot build:"; cat "$work/$name.log"; failures=$((failures + 1)); }
}

# expect pass|fail NAME [NEEDLE]
expect() {
  local want=$1 name=$2 needle=${3:-} got=pass
  "$here/check-imports.sh" "$work/$name.exe" >"$work/out" 2>&1 || got=fail
  if [ "$got" != "$want" ] || { [ -n "$needle" ] && ! grep -qiF "$needle" "$work/out"; }; then
    echo "FAIL $name: wanted $want${needle:+ naming '$needle'}, got $got:"; cat "$work/out"
    failures=$((failures + 1))
  fi
}

cat >"$work/plain.c" <<'C'
#include <windows.h>
int main(void) { return (int)GetTickCount(); }
C
cat >"$work/bcrypt.c" <<'C'
#include <windows.h>
#include <bcrypt.h>
int main(void) { BCRYPT_ALG_HANDLE a; return (int)BCryptOpenAlgorithmProvider(&a, BCRYPT_SHA256_ALGORITHM, 0, 0); }
C
cat >"$work/crypt32.c" <<'C'
#include <windows.h>
#include <wincrypt.h>
int main(void) { return CertFreeCertificateContext(0); }
C
# A stand-in for OpenSSL's DLL, made here: only its name matters.
cat >"$work/libcrypto-3-x64.c" <<'C'
__declspec(dllexport) int OpenSSL_version_num(void) { return 3; }
C
cat >"$work/openssl.c" <<'C'
__declspec(dllimport) int OpenSSL_version_num(void);
int main(void) { return OpenSSL_version_num(); }
C
build plain
build bcrypt -lbcrypt
build crypt32 -lcrypt32
x86_64-w64-mingw32-gcc -shared -o "$work/libcrypto-3-x64.dll" "$work/libcrypto-3-x64.c"
build openssl "$work/libcrypto-3-x64.dll"

expect pass plain
expect fail bcrypt "bcrypt.dll"
expect fail crypt32 "crypt32.dll"
expect fail openssl "libcrypto-3-x64.dll"

if [ "$failures" -ne 0 ]; then
  echo "check-imports-test: $failures failed"
  exit 1
fi
echo "check-imports-test: all passed"
