#!/bin/sh
# Builds the bench preset, makes the two corpora under build/bench/ when
# they are missing, and runs every benchmark on both. Extra arguments go to
# the benchmark (e.g. --benchmark_filter=decode).
set -eu
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null
cmake --build --preset bench
[ -d build/bench/corpus ] || bench/make-corpus.sh build/bench/corpus
[ -d build/bench/corpus-large ] || bench/make-corpus.sh --large build/bench/corpus-large

BRISK_CORPUS=build/bench/corpus BRISK_LARGE_CORPUS=build/bench/corpus-large \
    exec build/bench/bench/decode_bench --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true "$@"
