#!/usr/bin/env bash
# The main job on the sample product, from nothing: installs what is missing,
# builds stubpack (host, build/) and launcher.exe (Windows, build-win/), builds
# the sample MSIs, stamps the development key into a copy of the launcher,
# signs it with a throwaway test certificate, packs
# the English and German packages into out/setup.exe, inspects it, runs it
# under Wine (a fresh prefix on a private Xvfb display) with /qn, and reports
# what happened: exit code, product registered, files installed, extracted
# files kept.
#
# Environment: DEMO_LOCALE (default en_US.UTF-8) is the user locale Wine gets,
# e.g. de_DE.UTF-8 installs the German package; DEMO_KEEP=1 keeps the Wine
# prefix (about 700 MB) in out/wine-prefix; JOBS (default 2) for the builds.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
out="$root/out"
jobs="${JOBS:-2}"
locale="${DEMO_LOCALE:-en_US.UTF-8}"
steps=10
step_no=0
demo_start=$EPOCHREALTIME

elapsed() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }

# step TEXT: starts the next numbered step.
step() {
  step_no=$((step_no + 1))
  step_start=$EPOCHREALTIME
  printf '\n[%d/%d] %s\n' "$step_no" "$steps" "$*"
}
# done_step [TEXT]: ends the current step with its time.
done_step() { printf '      %s (%ss)\n' "${1:-done}" "$(elapsed "$step_start")"; }
indent() { sed 's/^/      /'; }

# logged LOG COMMAND...: runs COMMAND with its output in LOG and shows its
# progress meanwhile: ninja's [n/N] counter on one updating line on a
# terminal, otherwise a line every 15 s. On failure prints the end of LOG.
logged() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 &
  local pid=$! last=$SECONDS started=$SECONDS counter
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    counter=$(grep -o '^\[[0-9]*/[0-9]*\]' "$log" | tail -n1 || true)
    if [ -t 1 ]; then
      printf '\r      %s %ds ' "${counter:-working}" $((SECONDS - started))
    elif [ $((SECONDS - last)) -ge 15 ]; then
      printf '      %s %ds\n' "${counter:-working}" $((SECONDS - started))
      last=$SECONDS
    fi
  done
  local status=0
  wait "$pid" || status=$?
  [ -t 1 ] && printf '\r\033[K'
  if [ "$status" -ne 0 ]; then
    echo "      FAILED ($*); the end of $log:"
    tail -n 30 "$log" | indent
    return "$status"
  fi
}

printf 'demo: pack the sample product into out/setup.exe and install it under Wine\n'
mkdir -p "$out"
logs="$out/logs"
rm -rf "$logs"
mkdir -p "$logs"

step "Debian packages (scripts/setup.sh)"
scripts/setup.sh 2>&1 | indent
done_step

step "stubpack, host build in build/"
logged "$logs/cmake-host.log" cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
logged "$logs/build-host.log" cmake --build build -j "$jobs" --target stubpack
stubpack="$root/build/stubpack"
done_step "built $stubpack"

step "launcher.exe and the test probe, Windows build in build-win/"
logged "$logs/cmake-win.log" cmake -S . -B build-win -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel
logged "$logs/build-win.log" cmake --build build-win -j "$jobs" --target launcher probe
probe="$root/build-win/tests/system/probe/probe.exe"
done_step "built build-win/launcher.exe ($(stat -c %s build-win/launcher.exe) bytes)"

step "sample MSIs with wixl and gcab (examples/build-sample.sh)"
rm -rf "$out/sample"
examples/build-sample.sh "$out/sample" 2>&1 | sed "s|$out/||" | indent
done_step

step "stamp the development key into out/launcher-stamped.exe (stubpack stamp)"
rm -f "$out/launcher-stamped.exe"
"$stubpack" stamp --launcher build-win/launcher.exe --key "$root/keys/dev_public.pem" \
  --out "$out/launcher-stamped.exe" | sed "s|$out/||; s|$root/||" | indent
done_step

step "sign the stamped launcher with a throwaway test certificate (osslsigncode)"
signing="$out/signing"
rm -rf "$signing" "$out/launcher-signed.exe"
mkdir -p "$signing"
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 7 -subj '/CN=Demo Test Publisher' \
  -addext extendedKeyUsage=codeSigning -keyout "$signing/test.key" -out "$signing/test.crt" \
  >"$logs/openssl.log" 2>&1
osslsigncode sign -certs "$signing/test.crt" -key "$signing/test.key" -h sha256 -n 'Demo setup' \
  -in "$out/launcher-stamped.exe" -out "$out/launcher-signed.exe" | indent
done_step "out/launcher-signed.exe, signed by CN=Demo Test Publisher (out/signing/test.crt)"

step "pack the English and German packages into out/setup.exe (stubpack pack)"
rm -f "$out/setup.exe"
(cd "$out" && "$stubpack" pack --launcher launcher-signed.exe --key "$root/keys/dev_private.pem" \
  --out setup.exe --msi sample/en/demo.msi --msi sample/de/demo.msi) | indent
done_step

step "check out/setup.exe (stubpack inspect --locale 1033, osslsigncode verify)"
"$stubpack" inspect "$out/setup.exe" --locale 1033 | sed "s|$out/||" | indent
osslsigncode verify -CAfile "$signing/test.crt" -in "$out/setup.exe" >"$logs/verify.log" 2>&1 ||
  { echo "      osslsigncode verify FAILED:"; indent <"$logs/verify.log"; exit 1; }
echo "      osslsigncode verify: $(grep -m1 '^Signature verification' "$logs/verify.log")"
done_step

step "a fresh Wine prefix on a private Xvfb display"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
prefix="$out/wine-prefix"
scratch=$(mktemp -d /tmp/msistub-demo.XXXXXX)
xvfb_pid=
finish() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$scratch"
  if [ -z "${DEMO_KEEP:-}" ]; then rm -rf "$prefix"; fi
}
trap finish EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >"$logs/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || { echo "      Xvfb did not start"; indent <"$logs/xvfb.log"; exit 1; }
DISPLAY=":$(head -n1 "$scratch/display")"
export DISPLAY
export WINEPREFIX=$prefix
# wine_run COMMAND...: runs a Wine command as a user with the demo's locale.
wine_run() { env LC_ALL="$locale" "$@"; }
wineserver -k >/dev/null 2>&1 || true   # left over from an interrupted run
rm -rf "$prefix"
logged "$logs/wineboot.log" wine_run wineboot -i
wineserver -w
# No window manager: Wine must not wait for one when windows close.
wine_run wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w
# The user's folders become real folders in the prefix, not links into
# $HOME, and the Z: drive (the host's /) goes: nothing run here can write
# outside the prefix.
find "$prefix/drive_c/users" -type l -print0 | while IFS= read -r -d '' link; do
  rm -f "$link" && mkdir -p "$link"
done
rm -f "$prefix/dosdevices/z:"
mkdir -p "$prefix/drive_c/users/Public/Downloads"
cp "$out/setup.exe" "$prefix/drive_c/users/Public/Downloads/setup.exe"
done_step "$prefix, display $DISPLAY, user locale $locale"

step "run C:\\users\\Public\\Downloads\\setup.exe /qn under Wine"
cd "$scratch"
wine_run wine "$probe" --timeout 120 -- 'C:\users\Public\Downloads\setup.exe' /qn >"$logs/probe.log" \
  2>"$logs/wine.log" || true
code=$(sed -n 's/^EXIT //p' "$logs/probe.log" | tr -d '\r')
done_step "ended with exit code ${code:-none}"

# ------------------------------------------------------------- the report
uninstall='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
hostpath() { local p=${1:3}; printf '%s/drive_c/%s\n' "$prefix" "${p//\\//}"; }
# list_files WINDIR: every file below WINDIR with its size.
list_files() {
  (cd "$(hostpath "$1")" && find . -type f -printf '%P\t%s\n' | sort) |
    while IFS=$'\t' read -r name size; do
      printf '        %s\\%s  (%s bytes)\n' "$1" "${name//\//\\}" "$size"
    done
}

printf '\nwhat happened\n'
case "${code:-}" in
  0) echo "  exit code      0 (success)" ;;
  "") echo "  exit code      none: $(grep -m1 -E '^(ERROR|TIMEOUT)' "$logs/probe.log" || echo 'see out/logs/')" ;;
  *) echo "  exit code      $code" ;;
esac
shown=$(sed -n 's/^WINDOW class=\(.*\) title=\(.*\)$/"\2" (\1)/p' "$logs/probe.log" | tr -d '\r')
echo "  windows        ${shown:-none}"
registered=
for lang in en de; do
  props=$(msiinfo export "$out/sample/$lang/demo.msi" Property | tr -d '\r')
  product_code=$(sed -n 's/^ProductCode\t//p' <<<"$props")
  product_name=$(sed -n 's/^ProductName\t//p' <<<"$props")
  reg_out=$(wine_run wine reg query "$uninstall\\$product_code" 2>/dev/null | tr -d '\r' || true)
  if grep -q ' UninstallString ' <<<"$reg_out"; then
    registered=$product_code
    echo "  registered     \"$product_name\" $product_code, Uninstall key:"
    awk '$1 ~ /^(DisplayName|DisplayVersion|Publisher|Language|UninstallString)$/ {
           name = $1; type = $2; $1 = ""; $2 = ""; sub(/^ +/, "")
           printf "        %-16s %s (%s)\n", name, $0, type }' <<<"$reg_out"
  else
    echo "  not installed  \"$product_name\" $product_code"
  fi
  if [ -d "$(hostpath "C:\\windows\\Installer\\$product_code")" ]; then
    echo "  extracted      C:\\windows\\Installer\\$product_code kept:"
    list_files "C:\\windows\\Installer\\$product_code"
    cmp -s "$(hostpath "C:\\windows\\Installer\\$product_code\\main.msi")" \
      "$out/sample/$lang/demo.msi" && echo "        main.msi has the bytes of out/sample/$lang/demo.msi"
  fi
done
if [ -d "$(hostpath 'C:\Program Files\Demo')" ]; then
  echo "  installed      C:\\Program Files\\Demo:"
  list_files 'C:\Program Files\Demo'
  echo "        readme.txt begins \"$(head -n1 "$(hostpath 'C:\Program Files\Demo\readme.txt')")\""
else
  echo "  installed      nothing: C:\\Program Files\\Demo does not exist"
fi
if [ "${code:-}" = 0 ] && [ -n "$registered" ]; then
  verdict="installed"
else
  verdict="FAILED"
fi
printf '\ndemo: %s in %ss (logs in out/logs/)\n' "$verdict" "$(elapsed "$demo_start")"
[ "$verdict" = installed ]
