#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the fuzz targets and the package checks need
# (CPack's dpkg tools, lintian, the desktop and AppStream validators, rsvg-convert for the icons,
# ser2net and socat for the serial-over-network test), skipping those already present. Runs
# apt-get through sudo when not root.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev
  libgtest-dev libgmock-dev googletest
  clang libclang-rt-14-dev
  binutils srecord
  fontconfig fonts-dejavu-core
  dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin
  ser2net socat
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
