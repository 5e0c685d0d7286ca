#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the fuzz targets and the package checks need
# (CPack's dpkg tools, lintian, the desktop and AppStream validators, rsvg-convert for the icons,
# ser2net, socat, openssl and python3-serial for the network tests; gensio and the libraries its
# pkg-config line links for the port library), skipping those already present. Runs
# apt-get through sudo when not root.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev
  libgtest-dev libgmock-dev googletest
  clang libclang-rt-14-dev
  binutils srecord
  fontconfig fonts-dejavu-core fonts-liberation2
  dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin
  ser2net socat openssl python3-serial
  libgensio-dev libwrap0-dev libnsl-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# The forms are laid out in "MS Sans Serif": this alias shows them in Liberation Sans, for the
# installed programs as for the tests.
font_alias=61-zelnet-ms-sans-serif.conf
install_font_alias() {
  local from
  from="$(dirname "$0")/fontconfig/$font_alias"
  if ! cmp -s "$from" "/etc/fonts/conf.d/$font_alias"; then
    $SUDO install -m 644 "$from" "/etc/fonts/conf.d/$font_alias"
    $SUDO fc-cache -f >/dev/null 2>&1 || true
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  install_font_alias
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
install_font_alias
