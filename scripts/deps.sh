#!/bin/bash
# Installs the Debian packages a command needs, once: only missing packages
# are installed, and the package lists are fetched only when needed.
# Usage: scripts/deps.sh test|bench|demo ...
set -euo pipefail

declare -A GROUPS_PKGS=(
    [build]="cmake make g++ clang libclang-rt-14-dev llvm googletest strace util-linux"
    [windows]="g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 wine64 wine"
    [bench]="libbenchmark-dev"
    [media]="ffmpeg xvfb xauth imagemagick gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav"
)
declare -A COMMAND_GROUPS=(
    [test]="build windows bench media"
    [bench]="build windows bench"
    [demo]="build windows bench media"
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
if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/tmp/orvex-apt.log 2>&1; then
    $SUDO apt-get update -q >>/tmp/orvex-apt.log 2>&1
    if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >>/tmp/orvex-apt.log 2>&1; then
        tail -n 30 /tmp/orvex-apt.log
        exit 1
    fi
fi
