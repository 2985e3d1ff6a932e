#!/bin/bash
# Installs the Debian packages a command needs, once: only missing packages
# are installed, and the package lists are fetched only when needed.
# Usage: scripts/deps.sh test|bench|demo ...
set -euo pipefail

declare -A GROUPS_PKGS=(
    [build]="cmake make g++ clang libclang-rt-14-dev llvm googletest strace util-linux"
    [windows]="g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 wine64 wine"
    [windows32]="g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686"
    # Every command that runs Wine wants wine32 before it creates a prefix: a
    # prefix made without it no longer starts once wine32 is installed.
    [wine32]="wine32:i386"
    [bench]="libbenchmark-dev"
    [media]="ffmpeg xvfb xauth imagemagick gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav"
    # Wine's 32-bit splitter loads the 32-bit GStreamer plugins.
    [media32]="gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-bad:i386 gstreamer1.0-libav:i386"
)
declare -A COMMAND_GROUPS=(
    [test]="build windows windows32 wine32 bench media media32"
    [bench]="build windows windows32 wine32 bench"
    [demo]="build windows wine32 bench media"
)

wanted=()
for cmd in "$@"; do
    for group in ${COMMAND_GROUPS[$cmd]:-$cmd}; do
        wanted+=(${GROUPS_PKGS[$group]})
    done
done

missing=()
for pkg in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# Packages of another architecture (wine32:i386 and the 32-bit plugins) need
# that architecture in dpkg, added once, and package lists that include it.
fresh_lists=0
for pkg in "${missing[@]}"; do
    case "$pkg" in
    *:*)
        arch=${pkg##*:}
        if [ "$arch" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
            $SUDO dpkg --add-architecture "$arch"
            fresh_lists=1
        fi
        ;;
    esac
done
: >/tmp/orvex-apt.log
if [ $fresh_lists -eq 1 ]; then
    $SUDO apt-get update -q >>/tmp/orvex-apt.log 2>&1
fi
if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >>/tmp/orvex-apt.log 2>&1; then
    $SUDO apt-get update -q >>/tmp/orvex-apt.log 2>&1
    if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >>/tmp/orvex-apt.log 2>&1; then
        tail -n 30 /tmp/orvex-apt.log
        exit 1
    fi
fi
