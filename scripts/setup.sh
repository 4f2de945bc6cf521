#!/usr/bin/env bash
# Installs the Debian packages Facetta needs to build, test and run.
# Quick and silent when everything is already there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-image-formats-plugins qt6-qpa-plugins
  libqt6svg6 libgl-dev
  qt6-translations-l10n qt6-l10n-tools qt6-tools-dev
  libgif-dev libimagequant-dev libpng-dev zlib1g-dev libdeflate-dev libisal-dev libjpeg62-turbo-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  xvfb xauth x11-utils
  librsvg2-bin
  fonts-wqy-microhei
  libglib2.0-dev libglib2.0-bin gsettings-desktop-schemas dbus-daemon xfconf libxfconf-0-3
  dpkg-dev file help2man desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
