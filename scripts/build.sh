#!/usr/bin/env bash
# Configures and builds into build/ (or $1) with Ninja; extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
# Arguments after the folder go to cmake, except a trailing "--target NAME".
dir="${1:-build}"
shift || true
args=() target=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--target" ]; then target=(--target "$2"); shift 2; else args+=("$1"); shift; fi
done
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="${QV_BUILD_TYPE:-RelWithDebInfo}" "${args[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" "${target[@]}"
