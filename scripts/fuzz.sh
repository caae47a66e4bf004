#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each one for
# the given number of seconds (default 60), one after the other.
#   scripts/fuzz.sh [seconds] [target...]
#   targets: registry scene_file specs engine kernels cli_text (default: all)
# The seed corpus of each target is fuzz/corpus/<target>/; new inputs go to
# $FUZZ_WORK (default build-fuzz/work/<target>), crashes to build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(registry scene_file specs engine kernels cli_text)

BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
WORK=${FUZZ_WORK:-$BUILD_DIR/work}
CC=${FUZZ_CC:-clang} CXX=${FUZZ_CXX:-clang++} \
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_BUILD_FUZZERS=ON \
  -DTARVO_BUILD_TESTS=OFF -DTARVO_BUILD_BENCH=OFF -DTARVO_BUILD_HOSTS=OFF -DTARVO_BUILD_FREI0R=OFF >/dev/null
cmake --build "$BUILD_DIR" --parallel "$(nproc)" --target "${targets[@]/#/fuzz_}"

mkdir -p "$BUILD_DIR/crashes"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  echo "== fuzz_$t for ${seconds}s"
  mkdir -p "$WORK/$t"
  if ! "$BUILD_DIR/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$BUILD_DIR/crashes/$t-" "$WORK/$t" "fuzz/corpus/$t" >"$BUILD_DIR/fuzz_$t.log" 2>&1; then
    echo "fuzz_$t found a problem; see $BUILD_DIR/fuzz_$t.log and $BUILD_DIR/crashes/"
    grep -E "ERROR|runtime error|fuzz check failed|Test unit written" "$BUILD_DIR/fuzz_$t.log" | head -5 || true
    status=1
  else
    grep -E "stat::number_of_executed_units|cov:" "$BUILD_DIR/fuzz_$t.log" | tail -2
  fi
done
exit $status
