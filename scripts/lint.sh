#!/usr/bin/env bash
# Static checks over src/: clang-tidy with .clang-tidy on the Linux translation units of the
# linux preset's compile database, and cppcheck with .cppcheck-suppressions. Fails on any
# finding of either.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(( $(nproc) < 2 ? 1 : 2 ))
mkdir -p build/lint
failed=0

# Configuring is enough for the compile database; Qt's generated files are not checked.
[ -f build/linux/compile_commands.json ] || cmake --preset linux -DVELMARIS_TESTS=ON >/dev/null

echo "== clang-tidy =="
# src/platform/windows compiles only for Windows: cppcheck covers it below.
if run-clang-tidy -p build/linux -j "$jobs" -quiet "^$PWD/src/(?!platform/windows/)" \
    >build/lint/clang-tidy.log 2>&1; then
    echo "$(grep -c '^clang-tidy' build/lint/clang-tidy.log) files clean"
else
    sed 's/\x1b\[[0-9;]*m//g' build/lint/clang-tidy.log | grep -E -A3 'error:|warning:' ||
        tail -n 40 build/lint/clang-tidy.log
    failed=1
fi

echo "== cppcheck =="
common=(--enable=warning,performance,portability --error-exitcode=1 --inline-suppr
    --suppressions-list=.cppcheck-suppressions --std=c++20 --language=c++ -I src -j "$jobs"
    --quiet --template='{file}:{line}: {severity} [{id}] {message}')
if cppcheck "${common[@]}" --platform=unix64 --library=qt -i src/platform/windows src &&
    cppcheck "${common[@]}" --platform=win64 --library=windows -D_WIN32 src/platform/windows
then
    echo "clean"
else
    failed=1
fi

[ "$failed" -eq 0 ] || { echo "lint.sh: findings above" >&2; exit 1; }
