#!/usr/bin/env bash
# Builds every fuzz target with clang (libFuzzer + AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs each from its seed corpus.
#   FUZZ_SECONDS  seconds per target (default: 600 shared by all targets)
# New inputs go to BUILD/corpus/<target>, crashes to BUILD/artifacts/<target>;
# the seed corpora in fuzz/corpus are only read.
set -euo pipefail
BUILD=${1:-build-fuzz}
JOBS=${JOBS:-$(nproc)}
cd "$(dirname "$0")/.."
ROOT=$(pwd)
export CCACHE_BASEDIR=$ROOT

# shellcheck disable=SC2086
CC=clang-14 CXX=clang++-14 cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZEL_BUILD_FUZZ=ON -DZEL_SANITIZE=address,undefined -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCH=OFF \
  -DZEL_BUILD_EXAMPLES=OFF ${CMAKE_ARGS:-} >/dev/null

targets=()
for src in fuzz/*_fuzz.cc; do
  targets+=("$(basename "$src" .cc)")
done
cmake --build "$BUILD" -j "$JOBS" --target "${targets[@]}"

seconds=${FUZZ_SECONDS:-}
if [ -z "$seconds" ]; then
  seconds=$((600 / ${#targets[@]}))
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for target in "${targets[@]}"; do
  work="$BUILD/corpus/$target"
  artifacts="$BUILD/artifacts/$target"
  mkdir -p "$work" "$artifacts"
  echo "== $target: ${seconds}s"
  if ! "$BUILD/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$target" >"$BUILD/$target.log" 2>&1; then
    failed+=("$target")
    tail -n 40 "$BUILD/$target.log"
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ +DONE" "$BUILD/$target.log" || true
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "run-fuzz: failing targets: ${failed[*]} (inputs in $BUILD/artifacts)" >&2
  exit 1
fi
echo "run-fuzz: every target ran ${seconds}s without a finding"
