#!/usr/bin/env bash
# Installs what is needed, builds the Linux program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake --preset linux -DVELMARIS_TESTS=OFF
cmake --build --preset linux --target velmaris
exec build/linux/velmaris "$@"
