#!/usr/bin/env bash
# Installs, from Debian's packages, what building, running and testing need.
# Usage: install-deps.sh [run|test|bench|screenshot|windows|tools]...
set -euo pipefail

# libssl-dev: the system's SHA-256; libsystemd-dev: sd-bus, through which the Linux build asks
# logind to keep the machine awake.
packages=(g++ cmake ninja-build pkg-config libssl-dev libsystemd-dev qt6-base-dev qt6-qpa-plugins
    fonts-urw-base35 fonts-dejavu-core)
for purpose in "$@"; do
    case "$purpose" in
        run) ;;
        # FAT through FUSE: this kernel may have no vfat, and names on FAT ignore case. A private
        # dbus-daemon stands in for the system bus that a fake logind answers on.
        test) packages+=(libgtest-dev libgmock-dev mount e2fsprogs dosfstools fusefat
            btrfs-progs dbus-daemon) ;;
        # The benchmark's peer contender.
        bench) packages+=(dc3dd) ;;
        screenshot) packages+=(xvfb xauth xdotool imagemagick x11-utils) ;;
        # Cross-building for Windows, GoogleTest's sources to build for it, Wine to run the
        # tests and Xvfb for Wine's windows.
        windows)
            packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 googletest wine64 xvfb xauth) ;;
        # Static checks and fuzzing: clang-tidy, cppcheck, and clang with its libFuzzer and
        # sanitizer runtimes.
        tools) packages+=(clang clang-tidy cppcheck libclang-rt-14-dev) ;;
        *) echo "install-deps.sh: unknown purpose '$purpose'" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
fi
