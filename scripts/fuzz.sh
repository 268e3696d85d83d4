#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for a
# bounded time on a copy of its seed corpus in fuzz/corpus:
#
#   scripts/fuzz.sh [SECONDS]
#
# SECONDS (default 60) is shared: a third for the header decoder, the rest
# for whole connections to a Server run (loopback only). Prints libFuzzer's
# final figures; fails when a fuzzer finds a crash, a leak or a sanitizer
# report. A finding is saved as build/fuzz/crash-* for replay
# (build/fuzz/fuzz/TARGET FILE).
set -euo pipefail
cd "$(dirname "$0")/.."

total=${1:-60}
header_seconds=$((total / 3))
connection_seconds=$((total - header_seconds))
build=build/fuzz  # the fuzz preset's folder (CMakePresets.json)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r fuzz/corpus/header fuzz/corpus/connection "$work/"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run() {
  local target=$1 seconds=$2 max_len=$3 corpus=$4
  local log="$work/$target.log" status=0
  printf '\n---- %s, %s s ----\n' "$target" "$seconds"
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=60 \
    -print_final_stats=1 -artifact_prefix="$build/crash-$target-" "$work/$corpus" \
    >"$log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::|^Done ' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 80 "$log"
    echo "$target found a fault (exit status $status)"
  fi
  return "$status"
}
run header_fuzzer "$header_seconds" 32 header
run connection_fuzzer "$connection_seconds" 4096 connection
