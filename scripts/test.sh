#!/usr/bin/env bash
# Installs dependencies, builds, and runs every test: a normal build, then the
# same tests under AddressSanitizer + UndefinedBehaviorSanitizer, then the
# concurrency and long-work suites under ThreadSanitizer, then each fuzz target
# for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="$(nproc)"
# Most cases spend much of their time waiting for the real-time headless device,
# so twice as many run at once as there are cores.
test_jobs=$((2 * jobs))

scripts/build.sh build
(cd build && ctest -j"$test_jobs" --output-on-failure)

export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
QV_BUILD_TYPE=Debug scripts/build.sh build-asan -DQV_SANITIZE=address,undefined -DQV_BUILD_BENCH=OFF -DQV_BUILD_TOOLS=OFF
(cd build-asan && ctest -j"$test_jobs" --output-on-failure)

# ThreadSanitizer: the suites that race host threads against the audio thread,
# and long work (renders, morphs, pitch detection, the offline edit) against
# shutdown, unload and clear.
QV_BUILD_TYPE=RelWithDebInfo scripts/build.sh build-tsan -DQV_SANITIZE=thread -DQV_BUILD_BENCH=OFF -DQV_BUILD_TOOLS=OFF \
  --target concurrency_tests
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan/suppressions.txt halt_on_error=1"
(cd build-tsan && ctest -j"$jobs" --output-on-failure -R '^(Concurrency|LongWork)\.')

# libFuzzer (clang, ASan + UBSan): every target for a bounded time.
scripts/fuzz.sh "${QV_FUZZ_SECONDS:-60}"
