#!/usr/bin/env bash
# Checks the two packages cpack built in FOLDER (scripts/check-packages.sh
# FOLDER): Debian's checker reports no error and no warning on either;
# tonewire depends on tonewire-cli of its own version; and tonewire-cli
# installs on an empty system without any Qt library. The empty system is
# apt's own solver run against an empty package status (every package counts
# as not installed) and the machine's package lists: what it would install is
# the whole closure of tonewire-cli's dependencies, found offline.
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
: >"$empty/status"
apt-get -o Dir::State::status="$empty/status" --simulate --no-install-recommends \
  install "$cli" >"$empty/plan"
installs=$(grep -c '^Inst ' "$empty/plan" || true)
if grep -E '^Inst (libqt|qt6)' "$empty/plan"; then
  echo "tonewire-cli pulls a Qt library on an empty system" >&2
  exit 1
fi
echo "tonewire-cli on an empty system: $installs packages, no Qt library"
apt-get --simulate --no-install-recommends install "$cli" "$desktop" >/dev/null
