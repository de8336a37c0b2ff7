#!/usr/bin/env bash
# Installs dependencies, builds, and runs the host program on a sound (the file
# given, else the project's own default sound): the engine tour, then the same
# sound through the effect rack with the example settings.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
sound="${1:-tools/sounds/default.wav}"
./build/tools/quorvalen_host "$sound" "${2:-build/quorvalen_export.wav}"
./build/tools/quorvalen_host rack "$sound" tools/racks/warm-space.json
