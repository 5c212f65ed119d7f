#!/usr/bin/env bash
# The Windows halves of the platform layer are kept free of Qt so that the
# MinGW cross compiler can at least check their syntax on Linux.
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=x86_64-w64-mingw32-g++
if ! command -v "$cxx" >/dev/null; then
  echo "check-windows-sources: $cxx not installed, skipped"
  exit 0
fi
status=0
for f in app/platform/*_win.cpp; do
  [ -e "$f" ] || continue
  # Files that need Qt are compiled by the Windows build itself.
  if grep -q '#include <Q' "$f" || grep -q '#include "settingslocation.h"' "$f"; then
    continue
  fi
  if "$cxx" -std=c++17 -Wall -Wextra -fsyntax-only -Iapp/platform "$f"; then
    echo "check-windows-sources: $f ok"
  else
    status=1
  fi
done
exit $status
