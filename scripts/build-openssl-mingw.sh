#!/usr/bin/env bash
# Builds a static, trimmed libcrypto for x86_64-w64-mingw32 from Debian's own
# openssl source package, for stubpack.exe (keys and signing; launcher.exe
# links no libcrypto). Debian ships no MinGW OpenSSL. The result lives in a
# cache outside the work tree and is reused when present:
#   $MSISTUB_CACHE/openssl-mingw64-<revision>/{include,lib/libcrypto.a}
# The revision changes whenever the configuration below does, so that a cache
# built with an older configuration is never reused.
set -euo pipefail
cache="${MSISTUB_CACHE:-$HOME/.cache/msistub}"
revision=3
prefix="$cache/openssl-mingw64-$revision"
if [ -f "$prefix/lib/libcrypto.a" ] && [ -f "$prefix/include/openssl/opensslv.h" ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

# apt-get source needs a deb-src entry; mirror the existing deb entries.
if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "setup: adding deb-src entries for bookworm"
  "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/msistub-deb-src.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  "${sudo_cmd[@]}" apt-get update -qq
fi

work="$cache/openssl-src"
rm -rf "$work"
mkdir -p "$work"
echo "setup: fetching Debian's openssl source"
# A mirror may lack the newest source of a version it lists; try each in turn.
for version in "" $(apt-cache showsrc openssl | awk '/^Version:/ {print "=" $2}'); do
  if (cd "$work" && apt-get source -qq "openssl$version" >/dev/null 2>&1); then break; fi
  rm -rf "${work:?}"/*
done
src="$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'openssl-*' | head -n1)"
[ -n "$src" ] || { echo "setup: apt-get source openssl gave no source tree" >&2; exit 1; }

echo "setup: building static libcrypto for MinGW-w64 (about 2 minutes)"
cd "$src"
# Only SHA-256, RSA verification and the Microsoft key-blob decoder are used;
# everything that can go without breaking those is left out. The launcher runs
# elevated and must never read a configuration file (OPENSSL_CONF, or the
# default folder, which a user could create): one that enables only the null
# provider would make every hash fail. Hence no-autoload-config.
# OpenSSL records its install and configuration folders as strings in the
# library; fixed names (never used: nothing is loaded from them) keep the
# linked programs the same bytes whatever folder the cache is in.
./Configure mingw64 no-shared no-tests no-module no-dso no-engine no-async no-autoload-config \
  no-sock no-srp no-srtp no-psk no-ocsp no-ct no-cms no-ts no-comp no-ui-console \
  no-idea no-md2 no-md4 no-mdc2 no-rc2 no-rc5 no-bf no-cast no-camellia no-seed \
  no-aria no-sm2 no-sm3 no-sm4 no-whirlpool no-rmd160 no-siphash no-poly1305 \
  no-chacha no-blake2 no-scrypt no-ec no-dh no-gost no-cmac no-des \
  --cross-compile-prefix=x86_64-w64-mingw32- \
  --prefix=/msistub-openssl --openssldir=/msistub-openssl/ssl >/dev/null
make -j"$(nproc)" build_libs >/dev/null 2>&1 || { make build_libs 2>&1 | tail -40; exit 1; }
rm -rf "$prefix.tmp"
mkdir -p "$prefix.tmp/lib" "$prefix.tmp/include"
cp libcrypto.a "$prefix.tmp/lib/"
cp -r include/openssl "$prefix.tmp/include/"
rm -rf "$prefix"
mv "$prefix.tmp" "$prefix"
rm -rf "$work"
echo "setup: libcrypto ready in $prefix"
