#!/bin/sh
# Runs the Windows build under Wine on a virtual display and captures its main window into
# docs/screenshot-windows.png.
# Usage: scripts/screenshot-windows.sh [EXE] [OUTPUT]
#   (defaults: build/windows-x64/velmaris.exe, docs/screenshot-windows.png)
# Needs wine64, xvfb (xvfb-run, Xvfb), xauth, xdotool and imagemagick (import). Builds nothing.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
EXE=${1:-$ROOT/build/windows-x64/velmaris.exe}
OUTPUT=${2:-$ROOT/docs/screenshot-windows.png}
WAIT_SECONDS=${WAIT_SECONDS:-60}
WINE=${WINE:-$(command -v wine64 || echo /usr/lib/wine/wine64)}

if [ -z "${VELMARIS_ON_XVFB:-}" ]; then
    [ -f "$EXE" ] || { echo "no program at $EXE: build it first" >&2; exit 1; }
    # A fixed 96 dpi, so that the window's twips come out as designed.
    VELMARIS_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
        "$0" "$EXE" "$OUTPUT"
fi

mkdir -p "$(dirname "$OUTPUT")"
WINEDEBUG=${WINEDEBUG:--all} "$WINE" "$EXE" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

window=""
tries=0
while [ -z "$window" ]; do
    window=$(xdotool search --onlyvisible --name "Quorvel - Velmaris" 2>/dev/null | head -n 1 || true)
    if [ -z "$window" ]; then
        tries=$((tries + 1))
        if [ "$tries" -gt $((WAIT_SECONDS * 4)) ] || ! kill -0 "$pid" 2>/dev/null; then
            echo "the window did not appear" >&2
            exit 1
        fi
        sleep 0.25
    fi
done

# Start-up searches the drives while the window is up: let it end and the window settle.
sleep 3
import -window "$window" "$OUTPUT"
echo "captured $OUTPUT"
