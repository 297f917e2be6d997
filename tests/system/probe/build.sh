#!/bin/sh
# Builds probe.exe and the fixtures into OUTDIR with
# the MinGW-w64 cross compiler, without CMake.
#   tests/system/probe/build.sh OUTDIR
set -eu
out=${1:?usage: build.sh OUTDIR}
src=$(cd "$(dirname "$0")" && pwd)
cc=${CC_MINGW:-x86_64-w64-mingw32-gcc}
flags="-O2 -std=c11 -Wall -Wextra -static -s"
mkdir -p "$out"
$cc $flags -municode -mconsole -o "$out/probe.exe" "$src/probe.c"
$cc $flags -mwindows -o "$out/fixture_msgbox.exe" "$src/fixture_msgbox.c"
$cc $flags -mwindows -o "$out/fixture_browse.exe" "$src/fixture_browse.c" -lshell32 -lole32
$cc $flags -shared -DPLANTED_DLL -o "$out/planted.dll" "$src/fixture_planted.c"
$cc $flags -mconsole -o "$out/planted.exe" "$src/fixture_planted.c"
$cc $flags -mconsole -o "$out/fixture_loadlib.exe" "$src/fixture_loadlib.c"
