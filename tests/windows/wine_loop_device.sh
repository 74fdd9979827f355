#!/bin/sh
# Runs wine_loop_device_test under Wine against a real block device: an odd-sized loop device
# that Wine opens as \\.\X: through a dosdevices link. Without root or losetup the test is run
# without a device and skips, saying why.
# Usage: wine_loop_device.sh WINE TEST_EXE
wine=$1
exe=$2
if [ "$(id -u)" != 0 ] || ! command -v losetup >/dev/null 2>&1; then
    exec "$wine" "$exe"
fi
dosdevices=${WINEPREFIX:-$HOME/.wine}/dosdevices
letter=
for l in v w x y; do
    if [ ! -e "$dosdevices/$l:" ] && [ ! -L "$dosdevices/$l::" ]; then
        letter=$l
        break
    fi
done
work=$(mktemp -d)
loop=
cleanup() {
    [ -n "$letter" ] && rm -f "$dosdevices/$letter::"
    [ -n "$loop" ] && losetup -d "$loop"
    rm -rf "$work"
}
trap cleanup EXIT
# 37 blocks of 131072 bytes and 5 sectors: the tail is read sector by sector.
length=$((131072 * 37 + 512 * 5))
head -c "$length" /dev/urandom >"$work/disk.img"
if [ -z "$letter" ] || ! loop=$(losetup --find --show "$work/disk.img"); then
    echo "no free drive letter or loop device" >&2
    exit 1
fi
mkdir -p "$dosdevices"
ln -s "$loop" "$dosdevices/$letter::"
VELMARIS_LOOP_DEVICE="\\\\.\\$letter:" VELMARIS_LOOP_LENGTH=$length \
    VELMARIS_LOOP_FILE="Z:$(echo "$work/disk.img" | tr / '\\')" "$wine" "$exe"
