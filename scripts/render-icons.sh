#!/usr/bin/env bash
# Renders the icon's PNG sizes from its SVG artwork (res/icons/). The 16-pixel
# size has a drawing of its own. Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../res/icons"
rsvg-convert -w 16 -h 16 tonewire-16.svg -o tonewire-16.png
for size in 32 48; do
  rsvg-convert -w "$size" -h "$size" tonewire.svg -o "tonewire-$size.png"
done
