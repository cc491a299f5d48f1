#!/bin/sh
# Builds the bench preset, makes the two corpora under build/bench/ when
# they are missing, and runs every benchmark on both; then the decoding
# benchmarks again as a 32-bit program (bench-m32: the launcher's 32-bit
# words, beside a 32-bit zlib), and the decoder once more compiled with the
# launcher's flags, installing the multilib packages when missing. Extra
# arguments go to the benchmark (e.g. --benchmark_filter=decode).
set -eu
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null
cmake --build --preset bench
[ -d build/bench/corpus ] || bench/make-corpus.sh build/bench/corpus
[ -d build/bench/corpus-large ] || bench/make-corpus.sh --large build/bench/corpus-large
export BRISK_CORPUS=build/bench/corpus BRISK_LARGE_CORPUS=build/bench/corpus-large

build/bench/bench/decode_bench --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true "$@"

if ! dpkg -s g++-multilib libbenchmark-dev:i386 zlib1g-dev:i386 >/dev/null 2>&1; then
    as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
    as_root apt-get install -y -q --no-install-recommends g++-multilib libbenchmark-dev:i386 zlib1g-dev:i386
fi
cmake --preset bench-m32 >/dev/null
if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
    # Registered by install-deps where the kernel cannot run 32-bit code.
    echo "bench-m32: 32-bit programs run through qemu-user here; its times are not native speed" >&2
fi
cmake --build --preset bench-m32
build/bench-m32/bench/decode_bench --benchmark_filter='(decode|reference|inflate|memcpy|crc32)$' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@"
echo "bench-m32, the decoder compiled with the launcher's flags (-Oz):"
exec build/bench-m32/bench/decode_bench_stub_flags --benchmark_filter='(decode|inflate)$' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@"
