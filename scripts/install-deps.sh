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
)
# Extra packages for a target can be asked for: EXTRA_PACKAGES="a b" make ...
if [[ -n "${EXTRA_PACKAGES:-}" ]]; then
  read -r -a extra <<<"$EXTRA_PACKAGES"
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then
  sudo="sudo"
fi

echo "Installing missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
