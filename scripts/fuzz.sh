#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a while.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
# New inputs that reach new code land in build-fuzz/corpus/; copy the ones worth
# keeping into fuzz/corpus/ (libFuzzer's -merge=1 picks a minimal set).
set -euo pipefail
seconds=${1:-60}
BUILD_DIR=${BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-fuzz}
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ensure_packages cmake make clang libclang-rt-14-dev libcli11-dev
CC=clang CXX=clang++ build_project -DQUORVEX_FUZZ=ON -DQUORVEX_BUILD_UI=OFF \
    -DQUORVEX_BUILD_TESTS=OFF -DQUORVEX_BUILD_BENCH=OFF

for target in cipher run; do
    corpus="$BUILD_DIR/corpus/$target"
    mkdir -p "$corpus"
    cp -n "$QUORVEX_ROOT/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
    echo "== fuzz_$target for $seconds s"
    "$BUILD_DIR/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -max_len=4096 "$corpus" 2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Done'
done
