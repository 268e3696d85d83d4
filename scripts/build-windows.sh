#!/usr/bin/env bash
# Builds the Windows program with mingw-w64 (tonewire.exe, and the Windows test
# programs unless TW_BUILD_TESTS=OFF is passed) and packs the release archive:
#   scripts/build-windows.sh [FOLDER] [cmake options...]     (FOLDER: build/windows)
# leaves FOLDER/tonewire.exe and FOLDER/tonewire-windows-x86_64.zip.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-build/windows}
shift || true

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres zip; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done

# The preset in windows/CMakePresets.json, in FOLDER.
cmake -S windows --preset windows -B "$folder" "$@" >/dev/null
cmake --build "$folder" -j "$(nproc)"
x86_64-w64-mingw32-strip "$folder/tonewire.exe"

# The archive: the program, the README with the docs it links to, and the
# licence (when the tree has one).
stage="$folder/package/tonewire"
rm -rf "$folder/package" "$folder/tonewire-windows-x86_64.zip"
mkdir -p "$stage"
cp "$folder/tonewire.exe" README.md "$stage/"
# The pages and pictures the README links to travel with it.
cp -r docs "$stage/"
for link in $(grep -o '](docs/[^)#]*' README.md | cut -c3- | sort -u); do
  if [ ! -e "$stage/$link" ]; then
    echo "the archive misses $link, which README.md links to" >&2
    exit 1
  fi
done
if [ -f LICENSE ]; then
  cp LICENSE "$stage/"
else
  echo "note: no LICENSE in the tree; the archive goes without one" >&2
fi
(cd "$folder/package" && zip -q -r -X ../tonewire-windows-x86_64.zip tonewire)
echo "built $folder/tonewire.exe and $folder/tonewire-windows-x86_64.zip"
