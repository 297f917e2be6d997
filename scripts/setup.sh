#!/usr/bin/env bash
# Installs every Debian package the builds and tests need. Idempotent: prints
# nothing and installs nothing when the machine already has everything.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  zlib1g-dev libssl-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev libfuzzer-14-dev
  g++-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  libmsi-dev libgsf-1-dev libglib2.0-dev msitools wixl gcab
  wine wine64 xvfb xauth x11-apps imagemagick osslsigncode nsis openssl locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# Wine names Unix files through the user's locale and falls back to ASCII
# names when that locale is not generated, so every locale the tests give Wine
# with non-ASCII file names must exist on the host.
wanted_locales=(en_US.UTF-8 ja_JP.UTF-8 ru_RU.UTF-8)
generate=0
for l in "${wanted_locales[@]}"; do
  short="${l%%.*}.utf8"
  if ! locale -a 2>/dev/null | grep -qx "$short"; then
    "${sudo_cmd[@]}" sed -i "s/^# *\($l UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$l UTF-8" /etc/locale.gen || echo "$l UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    generate=1
  fi
done
if [ "$generate" = 1 ]; then
  echo "setup: generating locales ${wanted_locales[*]}"
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
