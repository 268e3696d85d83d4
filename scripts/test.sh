#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every test
# in a Release build (g++), builds the Windows program and runs its tests under
# Wine, builds the Debian packages and checks them (scripts/check-packages.sh), runs
# the tests again under ASan+UBSan (clang) and the threaded tests under TSan
# (clang), fuzzes for a minute, then prints a short run of the stream
# benchmark. The soak test (label soak) runs in the Release and ASan steps.
# Fails if any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

jobs=$(nproc)
step() { printf '\n==== %s ====\n' "$*"; }

step "formatting"
scripts/check-format.sh

step "program sources against the Windows SDK headers"
scripts/check-windows-headers.sh

# Each build is a preset of CMakePresets.json (warnings are errors in all).
preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

step "Release build (g++)"
preset release
ctest --preset release -j "$jobs"

# The Windows build, its own tests under Wine and both streaming directions
# between it and the Linux build; the first Wine start of a fresh prefix is
# most of the time.
step "Windows build (mingw-w64), tested under Wine"
wine_start=$(date +%s)
scripts/build-windows.sh build/windows
ctest --preset wine
echo "Wine step: $(($(date +%s) - wine_start)) s"

step "Debian packages: built, lintian-clean, tonewire-cli installable without Qt"
rm -rf build/package
(cd build/release && cpack -G DEB -B "$root/build/package" >/dev/null)
scripts/check-packages.sh build/package

# The end-to-end sound checks run in the Release build only: their gap and
# timing checks measure real-time pace, which the sanitizers slow down.
step "ASan+UBSan build (clang)"
preset asan
ctest --preset asan -j "$jobs"

step "TSan build (clang), threaded tests"
preset tsan
ctest --preset tsan -j "$jobs"

# Arbitrary bytes at the header decoder and, as whole connections, at a
# Server run; about a minute in all.
step "fuzzing (clang, libFuzzer with ASan+UBSan), 60 s"
scripts/fuzz.sh 60

step "stream benchmark, short (figures only: it fails only when it cannot run)"
BUILD_DIR=build/release SKIP_BUILD=1 scripts/bench.sh --short

step "all passed"
