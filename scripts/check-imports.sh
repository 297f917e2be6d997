#!/usr/bin/env bash
# Fails when a program (launcher.exe, stubpack.exe) imports a DLL that Windows
# might take from the application's folder. Only KnownDLLs (and COMCTL32, bound side by side by the
# manifest) may be in the import table; everything else is loaded at run time
# from System32: crypt32 and bcrypt (the system's CNG, which does the
# launcher's hashing and signature checks) through platform/win32. An
# OpenSSL DLL has no place there either: the programs link nothing but
# system DLLs.
set -euo pipefail
exe="${1:?usage: check-imports.sh PROGRAM.exe}"
allowed="^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|OLE32|MSVCRT|COMCTL32)\.DLL$"
bad=0
while read -r dll; do
  if ! [[ "${dll^^}" =~ $allowed ]]; then
    case "${dll^^}" in
      BCRYPT.DLL | CRYPT32.DLL) why="must be loaded from System32 at run time (platform/win32)" ;;
      LIBCRYPTO* | LIBSSL*) why="is OpenSSL, which no program may load as a DLL" ;;
      *) why="may be loaded from the application folder" ;;
    esac
    echo "check-imports: $exe imports $dll, which $why" >&2
    bad=1
  fi
done < <(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}')
[ "$bad" = 0 ] && echo "check-imports: $(basename "$exe") imports only system DLLs"
exit "$bad"
