#!/usr/bin/env bash
# Fails when a C++ file differs from the checked-in .clang-format style.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -name '*.cpp' -o -name '*.h')
bad=0
for file in $files; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "not formatted: $file"
    bad=1
  fi
done
exit $bad
