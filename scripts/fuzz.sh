#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each for a
# bounded time on a copy of its seed corpus in fuzz/corpus:
#
#   scripts/fuzz.sh [SECONDS]
#
# SECONDS (default 60) is shared: a sixth each for the header decoder, the
# settings file and the command line, the rest for whole connections to a
# Server run (loopback only; "Silent output" takes sound as fast as it is
# written in this build). Prints libFuzzer's final figures (executions per
# second, coverage); fails when a fuzzer finds a crash, a leak or a
# sanitizer report. A finding is saved as build/fuzz/crash-* for replay
# (build/fuzz/fuzz/TARGET FILE).
set -euo pipefail
cd "$(dirname "$0")/.."

total=${1:-60}
small_seconds=$((total / 6))
connection_seconds=$((total - 3 * small_seconds))
build=build/fuzz  # the fuzz preset's folder (CMakePresets.json)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r fuzz/corpus/header fuzz/corpus/connection fuzz/corpus/settings fuzz/corpus/options "$work/"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run() {
  local target=$1 seconds=$2 max_len=$3 corpus=$4
  local log="$work/$target.log" status=0
  printf '\n---- %s, %s s ----\n' "$target" "$seconds"
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=60 \
    -print_final_stats=1 -artifact_prefix="$build/crash-$target-" "$work/$corpus" \
    >"$log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::|^Done ' "$log" || true
  # Executions per second over the whole run, and the edges covered.
  awk '/^stat::number_of_executed_units/ {runs = $2}
       /^#[0-9]+[[:space:]]+DONE/ {for (i = 1; i <= NF; ++i) if ($i == "cov:") cov = $(i + 1)}
       END {if (runs != "") printf "%s: %d executions, %.0f/s, coverage %s edges\n", target, runs, runs / seconds, cov}' \
    target="$target" seconds="$seconds" "$log"
  if [ "$status" -ne 0 ]; then
    tail -n 80 "$log"
    echo "$target found a fault (exit status $status)"
  fi
  return "$status"
}
run header_fuzzer "$small_seconds" 32 header
run settings_fuzzer "$small_seconds" 4096 settings
run options_fuzzer "$small_seconds" 512 options
run connection_fuzzer "$connection_seconds" 4096 connection
