#!/usr/bin/env bash
# The stream benchmark: tonewire-cli end to end on a private sound server,
# beside parec | nc to nc | pacat doing the same job. Builds the Release
# build, then prints the benchmark's tables (docs/benchmarks.md).
#
#   scripts/bench.sh [--short | --long]
#   scripts/bench.sh --network [--short]
#
# --short takes about 20 s, the default about 4 minutes, --long about 15.
# --network runs every emulated link profile (docs/network.md): about 2.5
# hours, or about 17 minutes with --short.
# BUILD_DIR chooses another build folder (default build/release); SKIP_BUILD=1
# uses it as it is.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/release}
if [ -z "${SKIP_BUILD:-}" ]; then
  scripts/install-deps.sh
  scripts/build.sh "$build" -DCMAKE_BUILD_TYPE=Release
fi

# The pipeline it compares with needs nc (OpenBSD netcat).
if ! command -v nc >/dev/null; then
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  echo "Installing: netcat-openbsd"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    netcat-openbsd
fi

exec "$build/bench/tonewire_stream_bench" "$@"
