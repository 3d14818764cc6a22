#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libgl-dev libgl1-mesa-dri mesa-utils
  zlib1g-dev libminizip-dev libarchive-dev libssl-dev libsodium-dev libgtk-3-dev
  libfreetype-dev libpng-dev fonts-dejavu-core
  xvfb xauth xdotool x11-utils imagemagick
  nginx-light tinyproxy zip unzip p7zip-full curl aria2
  python3 clang libclang-rt-14-dev
  minisign rsync ca-certificates openssl xorriso fiu-utils libfiu-dev elfutils
  dpkg-dev desktop-file-utils appstream lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
