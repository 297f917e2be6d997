; The benchmark's peer: an NSIS installer that does the launcher's job with
; the same package. It shows its progress page, writes the same two files
; into the same folder the launcher uses (<Windows>\Installer\{product code},
; the package as main.msi, the cabinet under its own name), runs the system's
; msiexec.exe with the arguments the launcher passes it, and exits with
; msiexec's exit code. Like the launcher after an installer that exited 0, it
; leaves the files where they are (scripts/bench-e2e.sh removes them between
; runs, outside the measured time).
;
;   makensis -DMSI=... -DCAB=... -DCAB_NAME=bench.cab -DPRODUCT_CODE={...}
;            -DOUTFILE=... bench.nsi
Target amd64-unicode
SetCompressor zlib
Name "Bench Product"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
AutoCloseWindow true
ShowInstDetails nevershow
InstallDir "$WINDIR\Installer\${PRODUCT_CODE}"

Page instfiles

Section
  SetOutPath "$INSTDIR"
  File "/oname=main.msi" "${MSI}"
  File "/oname=${CAB_NAME}" "${CAB}"
  ExecWait '"$SYSDIR\msiexec.exe" /i "$INSTDIR\main.msi" /qn' $0
  SetErrorLevel $0
SectionEnd
