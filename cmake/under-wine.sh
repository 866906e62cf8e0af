#!/usr/bin/env bash
# under-wine.sh WINE PROGRAM [ARG...]: how ctest runs a Windows program, under
# WINE. A kernel that runs no 32-bit programs (IA-32 emulation off, as on some
# virtual machines) cannot start 32-bit Wine at all, so nothing can be proven
# with it there: the test is skipped (exit 77, the Wine tests'
# SKIP_RETURN_CODE) with a line saying why. VARNOCK_ALSO_NEEDS_WINE names the
# other Wine, for a test that also runs a program of the other bitness.
set -euo pipefail
source "$(dirname "$0")/wine.sh"
for wine in "$1" ${VARNOCK_ALSO_NEEDS_WINE:+"$VARNOCK_ALSO_NEEDS_WINE"}; do
  status=0
  "$wine" --version >/dev/null 2>&1 || status=$?
  # 126: the kernel refused to execute it; any other failure is the test's.
  if [ "$status" -eq 126 ]; then
    echo "skipped: this machine's kernel cannot execute $wine (it runs no 32-bit programs), so nothing can run under it here"
    exit 77
  fi
done
exec "$@"
