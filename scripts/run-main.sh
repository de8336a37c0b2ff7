#!/usr/bin/env bash
# Installs dependencies, builds, and runs the host program on a sound (the file
# given, else the project's own default sound): the engine tour, then the same
# sound through the effect rack live and rendered offline with the example
# settings and the project's small example impulse response; a region audition
# and a Foundry one-shot; knife, Z sculpt, laser and reducer strokes from the
# example point files in a spectral session, with pictures of a session and of
# the spectrogram (PGM); then the offline constant-Q renders (spectral edit, both
# morph kinds, manifold mix) exported as WAV.
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
# Offline constant-Q renders, the rack render serving as the second sound.
"$host" cqt-edit "$sound" build/quorvalen_cqt_edit.wav
"$host" morph "$sound" build/quorvalen_render.wav covalent 60 build/quorvalen_covalent.wav
"$host" morph "$sound" build/quorvalen_render.wav reese 50 build/quorvalen_reese.wav
"$host" manifold build/quorvalen_manifold.wav "$sound" build/quorvalen_render.wav
"$host" spectral "$sound" tools/strokes/laser.txt build/quorvalen_laser.wav
"$host" spectral "$sound" tools/strokes/reducer.txt build/quorvalen_reducer.wav
"$host" images "$sound" build/quorvalen tools/strokes/laser.txt
# Foundry: a body region auditioned with character, then a one-shot designed from
# the sound as transient, body and tail.
"$host" region "$sound" 1 3 90 80 12000 40
"$host" oneshot "$sound" "$sound" "$sound" build/quorvalen_oneshot.wav
