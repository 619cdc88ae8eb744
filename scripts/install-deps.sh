#!/usr/bin/env bash
# Installs what Pellux needs to build, run and test on Debian 12. Safe to run again.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libzip-dev zlib1g-dev libssl-dev libbz2-dev liblzma-dev libzstd-dev libdeflate-dev pigz
  libgtest-dev
  gcc-multilib g++-multilib
  xvfb xauth x11-utils imagemagick twm xfonts-base xfonts-75dpi xdotool
  zip unzip p7zip-full libarchive-tools python3 time locales
  desktop-file-utils xdg-utils appstream man-db dpkg-dev fakeroot file binutils lintian bash-completion
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
