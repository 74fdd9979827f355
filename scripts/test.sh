#!/usr/bin/env bash
# Installs what is needed, builds every configuration and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test windows

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

# Windows, cross-built. The x86-64 tests run under Wine in a prefix of their own, with Xvfb for
# the windows Wine makes; the x86 build is only built and linked, as no 32-bit Wine is here.
run_windows() {
    echo "== windows-x64 =="
    cmake --preset windows-x64 -DVELMARIS_TESTS=ON
    cmake --build --preset windows-x64 -j "$jobs"
    WINEPREFIX=$(mktemp -d)
    export WINEPREFIX WINEDEBUG=-all
    trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
    # A server that stays up between the tests: each test starts Wine anew.
    /usr/lib/wine/wineserver -p
    xvfb-run -a sh -c '/usr/lib/wine/wine64 wineboot -i && ctest --preset windows-x64 -j "$0"' \
        "$jobs"
    echo "== windows-x86 =="
    cmake --preset windows-x86
    cmake --build --preset windows-x86 -j "$jobs"
}
run_windows

# Tools: ThreadSanitizer, static checks and fuzzing.
scripts/install-deps.sh tools

# The core's tests under ThreadSanitizer: the engine copies each drive on a thread of its own.
# Address randomisation off where allowed: TSan's fixed memory layout fails on kernels that
# randomise more bits than it expects.
echo "== linux-tsan =="
cmake --preset linux-tsan -DVELMARIS_TESTS=ON
cmake --build --preset linux-tsan -j "$jobs"
no_aslr=()
setarch "$(uname -m)" -R true 2>/dev/null && no_aslr=(setarch "$(uname -m)" -R)
"${no_aslr[@]}" ctest --preset linux-tsan -j "$jobs"

scripts/lint.sh
scripts/fuzz.sh
