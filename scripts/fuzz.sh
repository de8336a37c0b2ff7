#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, writes their seed corpora, and runs each target for
# a bounded time (seconds, default 60). A crash, a sanitizer report, a leak or a
# slow unit fails the run and leaves its input in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
# A fixed seed makes a CI run repeat the same inputs in the same order, so a run
# fails only where a run before it could have; QV_FUZZ_SEED=0 draws a new one.
seed="${QV_FUZZ_SEED:-1}"

targets=(fuzz_intake fuzz_rack_json fuzz_render fuzz_api_sequence fuzz_foundry fuzz_spectral)
# Only the fuzz targets: the shared library would need clang's shared sanitizer runtime.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQV_SANITIZE=address,undefined -DQV_BUILD_FUZZ=ON \
  -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF -DQV_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}" fuzz_make_seeds

work=build-fuzz/run
rm -rf "$work"
mkdir -p "$work" build-fuzz/findings
build-fuzz/fuzz/fuzz_make_seeds "$work/seeds" tools/racks/warm-space.json

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run() {
  local target="$1" seeds="$2" max_len="$3"
  mkdir -p "$work/$target"
  (cd "$work" && "../fuzz/$target" -max_total_time="$seconds" -seed="$seed" -timeout=20 -rss_limit_mb=2048 \
     -max_len="$max_len" -print_final_stats=1 -artifact_prefix="../findings/$target-" \
     "$target" "seeds/$seeds") 2>&1 >/dev/null | grep -v -E '^\[(QUORVALEN|ENGINE|FOUNDRY)' >"$work/$target.log"
  # The engine's own log lines (standard output, and tagged lines on standard
  # error) are dropped; libFuzzer's exit status decides.
  return "${PIPESTATUS[0]}"
}
report() {
  echo "== $1"
  grep -E "ERROR|SUMMARY|Test unit written|stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)" \
    "$work/$1.log" || true
}

# Two targets at a time (one per core on a 2-core machine): about 3 x $seconds in all.
failed=0
pairs=("fuzz_intake intake 16384|fuzz_rack_json rack_json 8192" "fuzz_render render 4096|fuzz_api_sequence api_sequence 2048"
  "fuzz_foundry foundry 4096|fuzz_spectral spectral 4096")
for pair in "${pairs[@]}"; do
  IFS='|' read -r first second <<<"$pair"
  run $first & a=$!
  run $second & b=$!
  wait $a || { failed=1; echo "FAILED: ${first%% *}"; }
  wait $b || { failed=1; echo "FAILED: ${second%% *}"; }
  report "${first%% *}"
  report "${second%% *}"
done
exit $failed
