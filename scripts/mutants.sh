#!/usr/bin/env bash
# Proves the tests with mutants: scripts/mutants.py applies plausible faults one at a time to a
# copy of the tree and prints one line per mutant, killed or SURVIVED. Arguments go to it
# (--only REGEX, --dir FOLDER, --no-baseline). Windows-only code is tested under Wine, set up
# here once for the whole run as scripts/test.sh does.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(python3 scripts/mutants.py --needs-wine "$@")" != yes ]; then
    exec python3 scripts/mutants.py "$@"
fi

WINEPREFIX=$(mktemp -d)
export WINEPREFIX WINEDEBUG=-all
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
# A server that stays up between the tests: each test starts Wine anew.
/usr/lib/wine/wineserver -p
xvfb-run -a sh -c '/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 && exec python3 "$@"' \
    sh scripts/mutants.py "$@"
