#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time from its seed corpus.
# Fails on a crash, a failed check or a sanitizer report; the input is kept in build/fuzz/crashes.
# Usage: fuzz.sh [seconds per target, default 25] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-25}
shift $(( $# > 0 ? 1 : 0 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(capacity model mountinfo sysfs)
jobs=$(( $(nproc) < 2 ? 1 : 2 ))

cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++
cmake --build build/fuzz -j "$jobs"

# The sysfs target writes a small tree for every input: in memory where the machine allows.
scratch_root=$PWD/build/fuzz
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_root=/dev/shm

mkdir -p build/fuzz/crashes
for target in "${targets[@]}"; do
    echo "== fuzz_$target for ${seconds}s =="
    # New inputs go to a corpus in the build folder; the checked-in seeds stay as they are.
    corpus=build/fuzz/corpus/$target
    mkdir -p "$corpus"
    scratch=$(mktemp -d "$scratch_root/velmaris-fuzz.XXXXXX")
    TMPDIR=$scratch build/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build/fuzz/crashes/"$target"- \
        "$corpus" fuzz/corpus/"$target" 2>build/fuzz/"$target".log ||
        { rm -rf "$scratch"; tail -n 60 build/fuzz/"$target".log; echo "fuzz_$target failed" >&2; exit 1; }
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' \
        build/fuzz/"$target".log
    rm -rf "$scratch"
done
