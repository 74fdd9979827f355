#!/bin/sh
# Runs the built program on a virtual display and captures its window into docs/screenshot.png.
# Usage: scripts/screenshot.sh [BINARY] [OUTPUT]   (defaults: build/linux/velmaris, docs/screenshot.png)
# Needs xvfb (xvfb-run, Xvfb), xauth, xdotool and imagemagick (import). Builds nothing.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BINARY=${1:-$ROOT/build/linux/velmaris}
OUTPUT=${2:-$ROOT/docs/screenshot.png}
WAIT_SECONDS=${WAIT_SECONDS:-20}

if [ -z "${VELMARIS_ON_XVFB:-}" ]; then
    [ -x "$BINARY" ] || { echo "no program at $BINARY: build it first" >&2; exit 1; }
    # A fixed 96 dpi, so that the window's twips come out as designed.
    VELMARIS_ON_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
        "$0" "$BINARY" "$OUTPUT"
fi

mkdir -p "$(dirname "$OUTPUT")"
"$BINARY" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

window=""
tries=0
while [ -z "$window" ]; do
    window=$(xdotool search --onlyvisible --name "Velmaris" 2>/dev/null | head -n 1 || true)
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
sleep 2
import -window "$window" "$OUTPUT"
echo "captured $OUTPUT"
