#!/usr/bin/env bash
# The dist folder runs on a Windows machine with nothing installed: every DLL that a program or DLL
# in it imports is a Windows system DLL or lies in the folder; tarnlink.dll exports only TLNK_*.
# usage: dist-imports.sh DIST_DIR
set -euo pipefail
dist=$1
objdump=${KX_OBJDUMP:-x86_64-w64-mingw32-objdump}
# DLLs that every Windows installation has.
system='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|shlwapi|ws2_32|bcrypt|msvcrt|ntdll|uxtheme|winmm|version|imm32|ucrtbase|api-ms-win-.*)\.dll$'
failures=0
shopt -s nullglob
files=("$dist"/*.exe "$dist"/*.dll)
if [ ${#files[@]} -eq 0 ]; then
  echo "no programs in $dist"
  exit 1
fi
for f in "${files[@]}"; do
  while read -r dll; do
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    if ! [[ $lower =~ $system ]] && [ ! -f "$dist/$dll" ]; then
      echo "$(basename "$f") imports $dll, which is neither a system DLL nor in the folder"
      failures=$((failures + 1))
    fi
  done < <("$objdump" -p "$f" | sed -n 's/^\s*DLL Name: //p')
done
if [ -f "$dist/tarnlink.dll" ]; then
  others=$("$objdump" -p "$dist/tarnlink.dll" |
           sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -E '^\s+\[' | grep -v ' TLNK_' || true)
  if [ -n "$others" ]; then
    echo "tarnlink.dll exports more than TLNK_*: $others"
    failures=$((failures + 1))
  fi
fi
echo "${#files[@]} files checked, $failures failed"
[ "$failures" -eq 0 ]
