#!/usr/bin/env bash
# Builds the manifest fuzz target with clang and libFuzzer and runs it for a
# bounded time on a copy of the seed corpus:
#   tools/fuzz.sh [SECONDS]     (default 60)
# A crash or a broken invariant stops it with the input saved as
# build-fuzz/crash-*; re-run one input with build-fuzz/tests/fuzz/fuzz_manifest FILE.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build="$root/build-fuzz"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVAN_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_manifest
corpus="$build/fuzz-corpus"
mkdir -p "$corpus"
cp -n "$root"/tests/fuzz/corpus/* "$corpus"/
cd "$build"
ASAN_OPTIONS=detect_leaks=0 ./tests/fuzz/fuzz_manifest -max_total_time="$seconds" -max_len=4096 \
    -print_final_stats=1 "$corpus"
