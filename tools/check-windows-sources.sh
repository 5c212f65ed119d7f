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
# Whether a file, or a platform header it includes, uses Qt: such files are
# compiled by the Windows build itself.
needs_qt() {
  grep -q '#include <Q' "$1" && return 0
  local header
  for header in $(sed -n 's/^#include "\(.*\)"/\1/p' "$1"); do
    [ -f "app/platform/$header" ] && grep -q '#include <Q' "app/platform/$header" && return 0
  done
  return 1
}

status=0
for f in app/platform/*_win.cpp; do
  [ -e "$f" ] || continue
  needs_qt "$f" && continue
  if "$cxx" -std=c++17 -Wall -Wextra -fsyntax-only -Iapp/platform "$f"; then
    echo "check-windows-sources: $f ok"
  else
    status=1
  fi
done
exit $status
