#!/usr/bin/env bash
# Installs dependencies, builds, and runs the host program on a sound (the file
# given, else the project's own default sound): the engine tour, then the same
# sound through the effect rack live and rendered offline with the example
# settings and the project's small example impulse response, and a knife and a
# Z sculpt, a laser and a reducer stroke from the example point files in a
# spectral session, and pictures of a session and of the spectrogram (PGM).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
export QUORVALEN_IR_DIR="${QUORVALEN_IR_DIR:-$PWD/tools/irs}"
sound="${1:-tools/sounds/default.wav}"
host=./build/tools/quorvalen_host
"$host" "$sound" "${2:-build/quorvalen_export.wav}"
"$host" irs
"$host" rack "$sound" tools/racks/warm-space.json
"$host" render "$sound" tools/racks/warm-space.json build/quorvalen_render.wav
"$host" spectral "$sound" tools/strokes/knife.txt build/quorvalen_knife.wav
"$host" spectral "$sound" tools/strokes/z-sculpt.txt build/quorvalen_z_sculpt.wav
"$host" spectral "$sound" tools/strokes/laser.txt build/quorvalen_laser.wav
"$host" spectral "$sound" tools/strokes/reducer.txt build/quorvalen_reducer.wav
"$host" images "$sound" build/quorvalen tools/strokes/laser.txt
