#!/usr/bin/env bash
# Installs the Debian packages the engine, its tests and tools need; skips what is present.
# Usage: tools/install-deps.sh [--bench]   (--bench adds the peers the benchmarks compare with)
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libsdl1.2-dev liblua5.1-0-dev libdevil-dev libglew-dev libglu1-mesa-dev libopenal-dev libvorbis-dev
  libfreetype-dev fonts-dejavu-core libpng-dev
  libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev
  xvfb xauth libgl1-mesa-dri x11-apps x11-utils xdotool mesa-utils sox vorbis-tools imagemagick
)
packages+=(libluajit-5.1-dev)  # for the QF_USE_LUAJIT build option
if [ "${1:-}" = "--bench" ]; then packages+=(love); fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
