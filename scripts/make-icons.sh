#!/bin/sh
# Draws the program's icons with ImageMagick into resources/icons/: a PNG per icon and size
# (16, 24, 32, 48 px) for the Qt build, and a multi-size .ico per icon for the Windows build
# with a 256-colour and a 32-bit image at each size.
# Needs ImageMagick 6 (Debian package imagemagick). Run from anywhere; rerun after editing.
set -eu

# The real convert, not a wrapper earlier on PATH.
CONVERT=${CONVERT:-/usr/bin/convert}
OUT=$(cd "$(dirname "$0")/.." && pwd)/resources/icons
SIZES="16 24 32 48"
SUPERSAMPLE=8  # drawn this many times larger, then averaged down

mkdir -p "$OUT"

# Outline width in pixels at each size: thin where pixels are few.
outline_px() {
    case "$1" in
        16 | 24) echo 1 ;;
        32) echo 1.5 ;;
        *) echo 2 ;;
    esac
}

# draw NAME SIZE MVG: MVG is in a 64 x 64 unit space, where {expressions} may use W, the
# outline width in units; outlines inset by W/2 land on whole pixels.
draw() {
    name=$1 size=$2 mvg=$3
    canvas=$((size * SUPERSAMPLE))
    scale=$(awk -v c="$canvas" 'BEGIN { printf "%.6f", c / 64 }')
    w=$(awk -v s="$size" -v px="$(outline_px "$size")" 'BEGIN { printf "%.4f", px * 64 / s }')
    mvg=$(printf '%s' "$mvg" | W="$w" perl -pe 's/\{([^}]*)\}/my $e = $1; $e =~ s!W!$ENV{W}!g; sprintf("%.4f", eval $e)/ge')
    # ImageMagick puts pixel centres on whole coordinates: shift by half a pixel so that
    # unit-space edges fall between pixels, then average each block of pixels.
    "$CONVERT" -size "${canvas}x${canvas}" xc:none \
        -draw "affine $scale,0,0,$scale,-0.5,-0.5 stroke-linejoin round $mvg" \
        -scale "${size}x${size}" \
        -strip -define png:exclude-chunks=date,time "PNG32:$OUT/$name-$size.png"
}

# A hard disk seen from above: the program's own icon.
DISK='
fill #c5ccd6 stroke #3e4756 stroke-width {W}
roundrectangle {8+W/2},{W/2} {56-W/2},{64-W/2} 6,6
fill #eef1f5 circle 32,25 32,8
fill #3e4756 stroke none circle 32,25 32,20
stroke #b3261e stroke-width 5 stroke-linecap round line 46,54 36,32
fill #3e4756 stroke none circle 46,54 46,49'

# A folder: where the images go.
FOLDER='
fill #d99a1e stroke #7a4d00 stroke-width {W}
polygon {4+W/2},{12+W/2} 24,{12+W/2} 30,{20+W/2} {60-W/2},{20+W/2} {60-W/2},{56-W/2} {4+W/2},{56-W/2}
fill #f6c94b rectangle {4+W/2},{24+W/2} {60-W/2},{56-W/2}'

# A play arrow: start the run.
RUN='
fill #2f9e44 stroke #145a22 stroke-width {W} polygon {16+W/2},8 {58-W/2},32 {16+W/2},56'

# A stop square: stop the run.
STOP='
fill #d92f2a stroke #7a1512 stroke-width {W}
roundrectangle {8+W/2},{8+W/2} {56-W/2},{56-W/2} 7,7'

for name in velmaris set-target run stop; do
    case "$name" in
        velmaris) mvg=$DISK ;;
        set-target) mvg=$FOLDER ;;
        run) mvg=$RUN ;;
        *) mvg=$STOP ;;
    esac
    frames=""
    for size in $SIZES; do
        draw "$name" "$size" "$mvg"
        frames="$frames $OUT/$name-$size.png"
    done
    # 256-colour images first, then 32-bit ones, each in ascending size. A 256-colour icon
    # has only a 1-bit mask: halve the alpha and keep dithering off so edges stay clean.
    # shellcheck disable=SC2086  # frames is a list of paths without spaces
    "$CONVERT" \( $frames -channel A -threshold 50% +channel +dither -colors 255 \) \
        \( $frames -type TrueColorAlpha \) "$OUT/$name.ico"
done

echo "icons written to $OUT"
