#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs every test
# in a Release build (g++), builds the Debian packages and checks them
# (scripts/check-packages.sh), runs the tests again under ASan+UBSan (clang)
# and the threaded tests under TSan (clang), fuzzes for a minute, runs the
# Windows program's tests under Wine (built beside the rest), then prints a
# short run of the stream benchmark. The soak test (label soak) runs in the
# Release and ASan steps.
# Fails if any step fails.
#
# The end-to-end tests stream in real time and mostly wait, so the other
# builds (the Windows header check, Windows, ASan, TSan, fuzzers) run beside
# them at the lowest priority: the tests keep the processor whenever they want
# it, and the builds take what they leave. Their logs are in build/ci/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

jobs=$(nproc)
step() { printf '\n==== %s (at %d s) ====\n' "$*" "$SECONDS"; }

# Each build is a preset of CMakePresets.json (warnings are errors in all).
preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

# One build beside the tests: build/ci/NAME.log, then NAME.ok or NAME.failed.
background_step() {
  local name=$1
  shift
  local started=$SECONDS
  if "$@" >"build/ci/$name.log" 2>&1; then
    echo "$((SECONDS - started))" >"build/ci/$name.ok"
  else
    touch "build/ci/$name.failed"
  fi
}

# A test run beside the one in front: its output goes to build/ci/NAME.log,
# shown once finish_beside has waited for it. Its own session, so that a
# failing step in front stops it with every test it started.
start_beside() {
  local name=$1
  shift
  setsid "$@" >"build/ci/$name.log" 2>&1 &
  beside=$!
}

# After the run in front (its status is FRONT_STATUS): waits for the one
# beside, shows its output, and fails if either failed.
finish_beside() {
  local name=$1 front_status=$2 side_status=0
  wait "$beside" || side_status=$?
  beside=""
  printf '\n---- %s ----\n' "$name"
  cat "build/ci/$name.log"
  if [ "$front_status" -ne 0 ] || [ "$side_status" -ne 0 ]; then
    echo "failed: the tests in front (status $front_status) or $name (status $side_status)" >&2
    exit 1
  fi
}

# Waits for a background build; shows the end of its log if it failed.
await() {
  local name=$1
  while [ ! -e "build/ci/$name.ok" ]; do
    if [ -e "build/ci/$name.failed" ] ||
      { ! kill -0 "$background" 2>/dev/null && [ ! -e "build/ci/$name.ok" ]; }; then
      tail -n 60 "build/ci/$name.log" 2>/dev/null || true
      echo "background step $name failed (build/ci/$name.log)" >&2
      exit 1
    fi
    sleep 2
  done
  echo "($name built beside the tests in $(cat "build/ci/$name.ok") s)"
}

step "formatting"
scripts/check-format.sh

rm -rf build/ci
mkdir -p build/ci
export -f background_step preset
export jobs
# Its own session, so that a failing step stops it with everything it started.
# Within its own session the lowest priority holds only once the session's
# scheduling group has it too (the kernel shares the processor between
# sessions first).
setsid nice -n 19 bash -c 'echo 19 >/proc/self/autogroup 2>/dev/null || true
  background_step windows-headers scripts/check-windows-headers.sh
  background_step windows scripts/build-windows.sh build/windows
  background_step asan preset asan
  background_step tsan preset tsan
  background_step fuzz preset fuzz' &
background=$!
beside=""
trap 'kill -- -"$background" 2>/dev/null || true
  [ -z "$beside" ] || kill -- -"$beside" 2>/dev/null || true' EXIT

step "Release build (g++)"
preset release
ctest --preset release-unit -j "$jobs"

step "program sources against the Windows SDK headers"
await windows-headers
cat build/ci/windows-headers.log

# The end-to-end tests measure real-time pace, so they run one at a time,
# with only the low-priority builds beside them; they tell a stall of the
# whole machine from a fault (tests/e2e/stall_watch.h), but not a lane at
# normal priority that takes the processor from the programs they test.
step "end-to-end tests (Release)"
ctest --preset release-realtime

# The soak test's figures are counts, not timings: it runs beside packaging.
step "Debian packages: built, lintian-clean, tonewire-cli installable without Qt; beside them the soak test"
start_beside soak ctest --preset release -L soak
front_status=0
{
  rm -rf build/package &&
    (cd build/release && cpack -G DEB -B "$root/build/package" >/dev/null) &&
    scripts/check-packages.sh build/package
} || front_status=$?
finish_beside soak "$front_status"

# The end-to-end sound checks run in the Release build only: their gap and
# timing checks measure real-time pace, which the sanitizers slow down. Most
# of the sanitizer tests wait on sockets and sound, so the two runs share the
# processor: the TSan run beside the ASan run, its output after.
step "ASan+UBSan build (clang), and beside it the TSan build (clang), threaded tests"
await asan
await tsan
start_beside tsan-tests ctest --preset tsan -j "$jobs"
front_status=0
ctest --preset asan -j "$jobs" || front_status=$?
finish_beside tsan-tests "$front_status"

# Arbitrary bytes at the header decoder and, as whole connections, at a
# Server run; about a minute in all.
step "fuzzing (clang, libFuzzer with ASan+UBSan), 60 s"
await fuzz
scripts/fuzz.sh 60

# The Wine tests stream in real time too (a Windows Server's rate, both
# directions) and have no stall watch: even the low-priority builds beside
# them made Wine lose 90 ms of output at a time, where alone it loses 20-30,
# so they run once every background build is done, with nothing beside them.
step "the Windows build's tests under Wine, and streams between it and the Linux build"
await windows
tail -n 1 build/ci/windows.log
ctest --preset wine

step "stream benchmark, short (figures only: it fails only when it cannot run)"
BUILD_DIR=build/release SKIP_BUILD=1 scripts/bench.sh --short

step "all passed"
