#!/usr/bin/env bash
# The run command: installs what is missing, builds the Release build, then
# opens the desktop window "Audio streamer" when there is a display
# ($DISPLAY or $WAYLAND_DISPLAY). Without one it says so and runs a headless
# demo instead: a Server and a Client on 127.0.0.1 with the default sound
# devices, streaming for 10 seconds, each status line prefixed with its role.
# BUILD_DIR chooses another build folder (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=${BUILD_DIR:-build/release}
scripts/build.sh "$build" -DCMAKE_BUILD_TYPE=Release
cli="$build/cli/tonewire-cli"
desktop="$build/platform/qt/tonewire"
port=${PORT:-5567}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$desktop" ]; then
  exec "$desktop"
fi
if [ -x "$desktop" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are not set): running the headless demo instead"
else
  echo "The desktop window was not built (Qt 6 Widgets missing): running the headless demo instead"
fi

prefixed() {
  local role=$1
  shift
  "$cli" "$role" "$@" 2>&1 | sed -u "s/^/$role: /"
  return "${PIPESTATUS[0]}"
}

echo "Streaming from a Client to a Server on 127.0.0.1:$port for 10 seconds"
prefixed server --port "$port" --seconds 12 &
server=$!
sleep 1
status=0
prefixed client 127.0.0.1 --port "$port" --seconds 10 || status=$?
wait "$server" || status=$?
exit "$status"
