#!/usr/bin/env bash
# Installs dependencies, builds, and runs the host program on a sound
# (the file given, else the project's own default sound).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
./build/tools/quorvalen_host "$@"
