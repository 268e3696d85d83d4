#!/usr/bin/env bash
# Installs the packages Tonewire needs to build and test, where missing.
# Debian or Ubuntu; uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest
  libpulse-dev pulseaudio pulseaudio-utils
  g++-mingw-w64-x86-64 zip
  wine64 fonts-wine xvfb
  qt6-base-dev libgl-dev fonts-dejavu-core
  iproute2 util-linux
  pipewire pipewire-pulse wireplumber
  appstream desktop-file-utils groff-base systemd dpkg-dev lintian
  libseccomp-dev libavahi-client-dev avahi-daemon avahi-utils dbus-daemon
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
