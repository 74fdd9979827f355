#!/usr/bin/env bash
# Installs what is needed, builds every configuration and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

# Two cores here: keep the build's memory and the machine responsive.
jobs=$(( $(nproc) < 2 ? 1 : $(nproc) ))

run_preset() {
    local preset=$1
    echo "== $preset =="
    cmake --preset "$preset" -DVELMARIS_TESTS=ON
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
}

# The core without any GUI library first: it proves the split.
run_preset core
run_preset linux
run_preset linux-asan
