#!/usr/bin/env bash
# Takes the screenshot of the Windows program's window under Wine on a private
# headless X display: scripts/windows-screenshot.sh [OUT.png] (default
# docs/screenshots/windows-client-idle.png). Needs a Windows build
# (scripts/build-windows.sh), wine64, Xvfb and ImageMagick's import. The
# window is only opened, never started, so nothing goes over the network.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-docs/screenshots/windows-client-idle.png}
build=${TW_WINDOWS_BUILD:-build/windows}
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null && wine=$(command -v wine64)

display=91
while [ -e /tmp/.X$display-lock ] || [ -e /tmp/.X11-unix/X$display ]; do
  display=$((display + 1))
done
export DISPLAY=:$display WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
export WINEPREFIX="$root/$build/wineprefix"
Xvfb "$DISPLAY" -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
# A private sound server with the test rig's devices, so the list has entries.
sound=$(mktemp -d)
HOME=$sound XDG_RUNTIME_DIR=$sound XDG_CONFIG_HOME=$sound/config pulseaudio -n \
  --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=true -F /dev/null \
  "--load=module-native-protocol-unix auth-anonymous=1 socket=$sound/native" \
  "--load=module-null-sink sink_name=Speakers sink_properties=device.description=Speakers" \
  "--load=module-null-sink sink_name=Mic sink_properties=device.description=Mic" \
  >/dev/null 2>&1 &
pulse=$!
export PULSE_SERVER=unix:$sound/native
cleanup() {
  "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  kill "$xvfb" "$pulse" 2>/dev/null || true
  sleep 1
  rm -rf "$sound"
}
trap cleanup EXIT
sleep 2
"$wine" wineboot -i >/dev/null 2>&1
# Wine's own desktop draws the frame and caption that a window manager would.
exe="Z:${root//\//\\}\\${build//\//\\}\\tonewire.exe"
"$wine" explorer /desktop=Tonewire,600x440 "$exe" >/dev/null 2>&1 &
# The window's inside Wine's desktop, out of reach of X tools: give it time.
sleep "${SHOT_DELAY:-15}"
import -window root -crop 600x440+0+0 +repage "$out"
echo "wrote $out"
