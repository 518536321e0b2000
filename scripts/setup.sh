#!/usr/bin/env bash
# Installs everything NorvAvi needs to build, run and test on Debian 12.
# Run as root (CI does); packages come from Debian's repositories only.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(
  cmake ninja-build g++ g++-multilib clang libclang-rt-14-dev pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
  libyuv-dev
  libimagequant-dev libcli11-dev nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev fonts-dejavu-core
  ffmpeg mediainfo gstreamer1.0-tools gstreamer1.0-plugins-good
  g++-mingw-w64-i686
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
