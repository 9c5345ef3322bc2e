#!/usr/bin/env bash
# Installs the Debian 12 packages the program, its tests and its tools need,
# and only those that are missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev libcups2-dev
  cups-daemon
  libxcb1-dev libxcb-damage0-dev
  xvfb xauth
  poppler-utils
  fonts-dejavu-core fonts-arphic-ukai
  clang libclang-rt-14-dev
  clang-format clang-tidy
  dpkg-dev lintian desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
