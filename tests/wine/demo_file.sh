#!/bin/sh
# make demo FILE= with a short recording of a kind users have, made with
# ffmpeg: "interlaced" (720x576 interlaced SD at a constant 8 Mbit/s with
# sound, 6 s: Wine's decoder shows each field as a picture) or "radio" (MP2
# sound alone at 192 kbit/s, 10 s: less than the component waits for before
# it opens a growing file, so it plays once the recorder has closed it).
# Prints the demo's summary; its exit status.
#
# Usage: demo_file.sh interlaced|radio MEDIA_DIR WORK_DIR BIN_DIR WINEPREFIX
set -u
if [ $# -ne 5 ]; then
    echo "usage: demo_file.sh interlaced|radio MEDIA_DIR WORK_DIR BIN_DIR WINEPREFIX" >&2
    exit 2
fi
kind=$1 mediadir=$2 work=$3 bin=$4 prefix=$5
src=$(cd "$(dirname "$0")/../.." && pwd)
case "$kind" in
    interlaced) media="$mediadir/demo-interlaced-6s.mpg"
                set -- 6 720x576 8000k cbr interlaced ;;
    radio)      media="$mediadir/demo-radio-10s.mpg"
                set -- 10 320x240 1500k audio-only ;;
    *) echo "demo_file.sh: no recording of kind $kind" >&2; exit 2 ;;
esac
sh "$src/scripts/make-media.sh" "$media" "$@" >/dev/null || exit 1
DEMO_WORK="$work" DEMO_BIN="$bin" DEMO_WINEPREFIX="$prefix" QUIET=1 bash "$src/scripts/demo.sh" FILE="$media"
