#!/bin/sh
# Draws the program's icons with ImageMagick into resources/icons/: a PNG per icon and size
# (16, 24, 32, 48 px) for the Qt build, and a multi-size .ico per icon for the Windows build
# with a 256-colour (8-bit) and a 32-bit image at each size, checked once written.
# Needs ImageMagick 6 (Debian package imagemagick). Run from anywhere; rerun after editing.
set -eu

# The real convert, not a wrapper earlier on PATH.
CONVERT=${CONVERT:-/usr/bin/convert}
IDENTIFY=${IDENTIFY:-/usr/bin/identify}
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

# A 256-colour image at one size: its own colours, in a palette padded past 16 entries so that
# the icon writer stores 8 bits per pixel, not 4. A 256-colour icon has only a 1-bit mask:
# halve the alpha and keep dithering off so edges stay clean.
palette_image() {
    src=$1 dst=$2
    "$CONVERT" "$src" -channel A -threshold 50% +channel +dither -colors 255 "$WORK/q.miff"
    pad=$((17 - $("$IDENTIFY" -format %k "$WORK/q.miff")))
    if [ "$pad" -gt 0 ]; then
        "$CONVERT" "$WORK/q.miff" -unique-colors \( -size "${pad}x1" gradient:'#010203-#0f1e2d' \) \
            +append -unique-colors "$WORK/palette.miff"
        "$CONVERT" "$WORK/q.miff" +dither -remap "$WORK/palette.miff" "$dst"
    else
        mv "$WORK/q.miff" "$dst"
    fi
}

# Every size in 8 and in 32 bits per pixel, as read from the icon's directory and its images.
check_icon() {
    perl -e '
        local $/; open my $f, "<:raw", $ARGV[0] or die; my $d = <$f>;
        my ($n) = unpack "x4 v", $d; my %have;
        for my $i (0 .. $n - 1) {
            my ($w, $bpp, $off) = unpack "C x5 v x4 V", substr($d, 6 + 16 * $i, 16);
            my $dib = unpack "x14 v", substr($d, $off, 16);
            $have{($w || 256) . "x$bpp"} = 1 if $dib == $bpp;
        }
        my @missing = grep { !$have{$_} } map { my $s = $_; map { "${s}x$_" } 8, 32 } @ARGV[1 .. $#ARGV];
        die "$ARGV[0] lacks @missing\n" if @missing;' "$1" $SIZES
}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

for name in velmaris set-target run stop; do
    case "$name" in
        velmaris) mvg=$DISK ;;
        set-target) mvg=$FOLDER ;;
        run) mvg=$RUN ;;
        *) mvg=$STOP ;;
    esac
    frames=""
    palettes=""
    for size in $SIZES; do
        draw "$name" "$size" "$mvg"
        frames="$frames $OUT/$name-$size.png"
        palette_image "$OUT/$name-$size.png" "$WORK/$name-$size.miff"
        palettes="$palettes $WORK/$name-$size.miff"
    done
    # 256-colour images first, then 32-bit ones, each in ascending size.
    # shellcheck disable=SC2086  # the lists are paths without spaces
    "$CONVERT" $palettes \( $frames -type TrueColorAlpha \) "$OUT/$name.ico"
    check_icon "$OUT/$name.ico"
done

echo "icons written to $OUT"
