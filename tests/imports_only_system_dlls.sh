#!/usr/bin/env bash
# imports_only_system_dlls.sh OBJDUMP EXE
# Fails unless EXE imports from KERNEL32, USER32 and msvcrt alone: what every
# Windows has, so the program needs no DLL beside it.
set -euo pipefail
objdump=$1 exe=$2
imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort)
echo "$exe imports: $(paste -sd' ' <<<"$imports")"
unexpected=$(printf '%s\n' "$imports" | grep -vxE 'kernel32\.dll|user32\.dll|msvcrt\.dll' || true)
if [ -n "$unexpected" ]; then
  echo "unexpected imports: $(paste -sd' ' <<<"$unexpected")"
  exit 1
fi
