#!/usr/bin/env bash
# Compiles the program's own sources (not the platform layer, the CLI, tests
# or benchmarks) against the real Windows SDK headers of mingw-w64, syntax
# only, so that our platform layer never drifts from the interfaces it stands
# in for.
set -euo pipefail
cd "$(dirname "$0")/.."
# The Windows build's own compiler (scripts/build-windows.sh): its threading
# model gives the standard library's mutex.
compiler=x86_64-w64-mingw32-g++-posix
if ! command -v "$compiler" >/dev/null; then
  echo "$compiler is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
status=0
count=0
for file in $(ls app/*.cpp run/*.cpp net/*.cpp audio/*.cpp runners/*.cpp core/*.cpp 2>/dev/null); do
  count=$((count + 1))
  if ! "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I. -DUNICODE_NOT_USED "$file"; then
    echo "does not compile against the Windows headers: $file" >&2
    status=1
  fi
done
echo "$count program sources checked against the Windows headers"
exit $status
