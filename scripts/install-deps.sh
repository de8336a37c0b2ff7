#!/usr/bin/env bash
# Installs everything the engine, its tests, benchmarks and tools need on Debian 12.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3
  juce-modules-source
  libflac-dev libvorbis-dev libogg-dev libasound2-dev zlib1g-dev
  librubberband-dev rubberband-cli
  libfftw3-dev libsndfile1-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  sox binutils
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
