#!/bin/sh
# Plays the short test recording through Wine's real filter graph and checks
# that every video frame ffprobe finds reaches the sink, at normal speed and
# without stalls. Two graphs, each with the platform's own "File Source
# (Async.)" standing in for the component's filter:
#   explicit  the source created by CLSID, added, loaded, its pin connected
#             to the sample grabber (the graph manager puts the splitter in)
#   typed     the source chosen by the graph manager from the file's check
#             bytes (AddSourceFilter), which must be the reader's CLSID
#   window    RenderFile (check bytes again) with Wine's video renderer on a
#             virtual display (Xvfb), and a screenshot that must show the
#             picture (play-window.sh checks it); Wine's video renderers
#             cannot be created without a display
# and, first, bytes that are no media must be refused at once (exit code 3)
# rather than play or hang.
# Runs in its own Wine prefix, without a display but for the last graph.
# Prints one line per graph beginning "wine playback:".
#
# Usage: playback.sh BIN_DIR WORK_DIR MEDIA_DIR
set -u
bin=$1
work=$2
mediadir=$3
src=$(cd "$(dirname "$0")/../.." && pwd)
reader='{E436EBB5-524F-11CE-9F53-0020AF0BA770}'
mkdir -p "$work"
export ORVEX_WINEPREFIX="$work/wineprefix"

media="$mediadir/short.mpg"
sh "$src/scripts/make-media.sh" "$media" 4 || exit 1
frames=$(cat "$media.frames")

# Whatever the runs leave (wineserver, services) ends before the next step.
settle() {
    WINEPREFIX="$ORVEX_WINEPREFIX" timeout 30 wineserver -w 2>/dev/null ||
        WINEPREFIX="$ORVEX_WINEPREFIX" wineserver -k 2>/dev/null
}
trap settle EXIT

if [ ! -f "$ORVEX_WINEPREFIX/system.reg" ]; then
    t0=$(date +%s)
    timeout 120 sh "$src/scripts/wine-run.sh" "$bin/player.exe" --help >/dev/null 2>&1
    echo "wine prefix: created in $(( $(date +%s) - t0 )) s"
fi

failed=0
play() {
    name=$1
    shift
    log="$work/$name.log"
    t0=$(date +%s)
    if [ "$name" = window ]; then
        # Wine's desktop belongs to the prefix's running server: one started
        # without a display cannot create windows for a later process.
        settle
        rm -f "$work/window.png"
        env -u DISPLAY timeout 90 sh "$src/scripts/play-window.sh" "$bin" "$work/window.png" 25 "$media" \
            --expect-frames "$frames" --timeout 30 --graph "$@" >"$log" 2>"$work/$name.stderr"
    else
        timeout 90 sh "$src/scripts/wine-run.sh" "$bin/player.exe" "$media" --expect-frames "$frames" \
            --timeout 30 --graph "$@" >"$log" 2>"$work/$name.stderr"
    fi
    rc=$?
    line=$(grep '^player: frames=' "$log" | sed 's/^player: //')
    shot=$(grep '^screenshot: ' "$log" | sed 's/^screenshot: / screenshot=/')
    echo "wine playback: $name ${line:-no figures} expected=$frames rc=$rc run_s=$(( $(date +%s) - t0 ))$shot"
    if [ $rc -ne 0 ]; then
        cat "$log"
        tail -n 20 "$work/$name.stderr"
        failed=1
    fi
}
noise="$work/noise.bin"
awk 'BEGIN { srand(7); for (i = 0; i < 20000; i++) printf "%c", 32 + int(rand() * 90) }' >"$noise"
timeout 60 sh "$src/scripts/wine-run.sh" "$bin/player.exe" "$noise" --timeout 10 >"$work/refused.log" 2>/dev/null
rc=$?
echo "wine playback: refused $(sed -n 's/^player: graph built in [0-9]* ms: /hr=/p' "$work/refused.log") rc=$rc"
[ $rc -eq 3 ] || failed=1
play explicit --source "$reader"
play typed --source auto --expect-source "$reader"
play window --renderfile --expect-source "$reader"
exit $failed
