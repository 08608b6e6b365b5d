#!/bin/sh
# Fuzzes the configuration parser with its round-trip property, on demand:
#   scripts/fuzz-configuration-parser.sh [seconds]   (default 300)
# Builds build/fuzz with clang (QUORVANE_FUZZ=ON); the corpus grows in build/fuzz/corpus, seeded
# from fuzz/corpus. A crash leaves its input in build/fuzz/ and a non-zero status.
set -eu
seconds=${1:-300}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$source_dir/build/fuzz

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build_dir" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVANE_FUZZ=ON \
        -DQUORVANE_BUILD_TESTS=OFF -DQUORVANE_BUILD_BENCHMARKS=OFF
fi
cmake --build "$build_dir" -j2 --target fuzz-configuration-parser

mkdir -p "$build_dir/corpus"
cp -n "$source_dir"/fuzz/corpus/* "$build_dir/corpus/" 2>/dev/null || true
cd "$build_dir"
exec bin/fuzz-configuration-parser -max_total_time="$seconds" -print_final_stats=1 \
    -dict="$source_dir/fuzz/configuration.dict" corpus
