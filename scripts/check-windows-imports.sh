#!/usr/bin/env bash
# Fails unless the Windows executable EXE imports only kernel32.dll and
# msvcrt.dll, two DLLs every Windows system has, so that it runs alone, with
# no DLL beside it. Widen the list only for a DLL that comes with Windows.
# Usage: scripts/check-windows-imports.sh EXE
set -euo pipefail
exe=$1
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
if [ -z "$dlls" ]; then
  echo "error: $exe imports no DLL: not a Windows executable?" >&2
  exit 1
fi
echo "== $exe imports: $(echo $dlls)"
status=0
for dll in $dlls; do
  if [[ ! $dll =~ ^(kernel32|msvcrt)\.dll$ ]]; then
    echo "error: $exe needs $dll, which does not come with Windows" >&2
    status=1
  fi
done
exit $status
