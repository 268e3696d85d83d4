#!/usr/bin/env bash
# Checks the two packages cpack built in FOLDER (scripts/check-packages.sh
# FOLDER): Debian's checker reports no error and no warning on either;
# tonewire depends on tonewire-cli of its own version; and tonewire-cli
# installs on an empty system without any Qt library. The empty system is
# apt's own solver run against an empty package status (every package counts
# as not installed) and the machine's package lists: what it would install is
# the whole closure of tonewire-cli's dependencies, found offline; as root the
# program then runs in a root made of just those packages.
set -euo pipefail
folder=$1
cli=$(realpath "$folder"/tonewire-cli_*.deb)
desktop=$(realpath "$folder"/tonewire_*.deb)

for deb in "$cli" "$desktop"; do
  dpkg-deb --field "$deb" Package Version Depends Recommends
  echo
done
# Overrides, each with its reason, live in the packages themselves.
lintian --fail-on error,warning "$cli" "$desktop"

version=$(dpkg-deb --field "$cli" Version)
if ! dpkg-deb --field "$desktop" Depends | grep -qF "tonewire-cli (= $version)"; then
  echo "tonewire does not depend on tonewire-cli (= $version)" >&2
  exit 1
fi

empty=$(mktemp -d)
trap 'rm -rf "$empty"' EXIT
# The program itself links no Qt library (its Depends come from these).
dpkg-deb -x "$cli" "$empty/unpacked"
if ldd "$empty/unpacked/usr/bin/tonewire-cli" | grep -i 'libqt'; then
  echo "tonewire-cli links a Qt library" >&2
  exit 1
fi
: >"$empty/status"
apt-get -o Dir::State::status="$empty/status" --simulate --no-install-recommends \
  install "$cli" >"$empty/plan"
installs=$(grep -c '^Inst ' "$empty/plan" || true)
if grep -E '^Inst (libqt|qt6)' "$empty/plan"; then
  echo "tonewire-cli pulls a Qt library on an empty system" >&2
  exit 1
fi
echo "tonewire-cli on an empty system: $installs packages, no Qt library"

# A minimal root of exactly those packages (their files as this machine has
# them installed, and tonewire-cli's own package unpacked), where the
# program must start, load its libraries and answer: as root only (chroot),
# and only where every package of the plan is installed here.
if [ "$(id -u)" -eq 0 ]; then
  root="$empty/root"
  mkdir -p "$root/usr/lib" "$root/usr/bin" "$root/usr/sbin" "$root/usr/lib64"
  for dir in lib bin sbin lib64; do ln -s "usr/$dir" "$root/$dir"; done
  complete=yes
  while read -r package; do
    [ "$package" = tonewire-cli ] && continue
    if ! files=$(dpkg -L "$package:amd64" 2>/dev/null || dpkg -L "$package" 2>/dev/null); then
      complete=no
      echo "not installed here, no minimal root: $package"
      break
    fi
    while read -r file; do
      if [ -f "$file" ] || [ -L "$file" ]; then
        cp -a --parents "$file" "$root/" 2>/dev/null || true
      fi
    done <<<"$files"
  done < <(awk '/^Inst /{print $2}' "$empty/plan")
  if [ "$complete" = yes ]; then
    dpkg-deb -x "$cli" "$root"
    if [ -n "$(find "$root" -name 'libQt*' -print -quit)" ]; then
      echo "a Qt library in tonewire-cli's minimal root" >&2
      exit 1
    fi
    chroot "$root" /usr/bin/tonewire-cli --version
    # No bus in the root: the discovery library loads and says it is off.
    answer=$(chroot "$root" /usr/bin/tonewire-cli servers 2>&1 || true)
    if [[ "$answer" == *"discovery is off"* ]]; then
      echo "tonewire-cli runs in the minimal root ($(du -sh "$root" | cut -f1)), no Qt library"
    else
      echo "tonewire-cli does not run in its minimal root" >&2
      exit 1
    fi
  fi
fi
apt-get --simulate --no-install-recommends install "$cli" "$desktop" >/dev/null
