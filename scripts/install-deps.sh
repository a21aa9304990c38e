#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, only when
# something is missing, so that running it again costs nothing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libtiff-dev libgtest-dev libgmock-dev libcli11-dev
  qt6-base-dev libgl-dev xvfb xauth clang-format
  help2man man-db desktop-file-utils appstream dpkg-dev file
  liblcms2-dev libimage-exiftool-perl libtiff-tools libvips-tools
  python3-psd-tools imagemagick
  libturbojpeg0-dev libpng-dev
)
# Extra packages for a target can be asked for: EXTRA_PACKAGES="a b" make ...
if [[ -n "${EXTRA_PACKAGES:-}" ]]; then
  read -r -a extra <<<"$EXTRA_PACKAGES"
  packages+=("${extra[@]}")
fi

# The web page of a tile pyramid shows it with OpenSeadragon from npm.
if ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [[ ${#missing[@]} -gt 0 ]]; then
  sudo=""
  if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
  fi
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

# OpenSeadragon's script, copied beside every pyramid's page, kept in the
# build folder (the page itself needs no network).
root=$(cd "$(dirname "$0")/.." && pwd)
viewer=$root/build/viewer
if [[ ! -f $viewer/node_modules/openseadragon/build/openseadragon/openseadragon.min.js ]]; then
  echo "Installing openseadragon into $viewer"
  npm install --prefix "$viewer" --no-audit --no-fund openseadragon@6
fi
