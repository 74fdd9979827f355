#!/bin/sh
# Draws the About box's banner with ImageMagick into resources/about/banner.jpg: 400 x 86 px,
# a blue gradient with a small disk and the program's name.
# Needs ImageMagick 6 (Debian package imagemagick) and the DejaVu fonts (fonts-dejavu-core).
# Run from anywhere; rerun after editing.
set -eu

# The real convert, not a wrapper earlier on PATH.
CONVERT=${CONVERT:-/usr/bin/convert}
OUT=$(cd "$(dirname "$0")/.." && pwd)/resources/about
FONT=${FONT:-DejaVu-Sans-Bold}

mkdir -p "$OUT"

# The disk of the program's icon (64 x 64 units), placed at the left.
DISK='
fill #c5ccd6 stroke #22303f stroke-width 2
roundrectangle 9,1 55,63 6,6
fill #eef1f5 circle 32,25 32,8
fill #3e4756 stroke none circle 32,25 32,20
stroke #b3261e stroke-width 5 stroke-linecap round line 46,54 36,32
fill #3e4756 stroke none circle 46,54 46,49'

# -strip and no date chunks: a rerun writes the same bytes.
"$CONVERT" -size 86x400 gradient:'#16345f-#5b93cf' -rotate -90 \
    -draw "affine 1,0,0,1,18,11 $DISK" \
    -font "$FONT" -fill '#0b1a30' -pointsize 38 -annotate +100+52 'Velmaris' \
    -fill white -annotate +98+50 'Velmaris' \
    -font "$FONT" -pointsize 12 -fill '#dce8f6' -annotate +101+72 'Raw images of many drives at once' \
    -strip -quality 92 -sampling-factor 4:4:4 "$OUT/banner.jpg"

echo "banner written to $OUT/banner.jpg"
