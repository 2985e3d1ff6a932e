#!/bin/bash
# make demo: a recording played while it is being recorded, through the
# component's filter in Wine's real DirectShow graph, with its live figures.
#
#   1. builds the DLL and the tools, creates a Wine prefix once (reused) and
#      registers the DLL in it;
#   2. makes a real MPEG-2 program stream with ffmpeg (a running clock and a
#      frame counter in the picture, and a tone; 60 s) unless FILE=... names
#      one of the user's own;
#   3. starts the Wine recorder copying it into a new recording at the
#      stream's own rate;
#   4. at once starts the Wine player on the recording: a graph with the
#      filter (loaded while the recording grows), Wine's splitter and a real
#      video renderer, on a virtual display (Xvfb) unless DEMO_DISPLAY=1 and
#      a display exists; the property page is open beside it;
#   5. prints a line of live figures once a second (--quiet or QUIET=1: the
#      summary only);
#   6. when the recording is complete and played to its end: stops,
#      unregisters the DLL (putting back what registration replaced) and
#      prints a summary; the exit status is not 0 when a check fails;
#   7. saves a screenshot of the playing video and one of the property page,
#      both while the recording grows.
# DEMO_SECONDS=N makes the generated recording N seconds long (make test runs
# a short one, with DEMO_WORK for its files and DEMO_BIN naming programs it
# has built already).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# The whole demo runs in one Wine session on one display, so that its
# programs share a Wine server that can create windows: on a virtual display
# (Xvfb) of its own, or on the user's with DEMO_DISPLAY=1.
if [ -z "${DEMO_INNER:-}" ]; then
    bash scripts/deps.sh demo || exit 1
    if [ "${DEMO_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
        DEMO_INNER=1 exec bash "$0" "$@"
    fi
    exec env DEMO_INNER=1 xvfb-run -a -n $((300 + $$ % 400)) -s "-screen 0 1280x800x24" bash "$0" "$@"
fi
for arg in "$@"; do
    case "$arg" in
        --quiet) QUIET=1 ;;
        FILE=*) FILE=${arg#FILE=} ;;
        *) echo "usage: demo.sh [--quiet] [FILE=recording.mpg]" >&2; exit 2 ;;
    esac
done

seconds=${DEMO_SECONDS:-60}
quiet=${QUIET:-0}
work=${DEMO_WORK:-$root/build/demo}
bin=${DEMO_BIN:-$root/build/windows/bin}
mkdir -p "$work"
say() { [ "$quiet" = 1 ] || echo "$@"; }

if [ -z "${DEMO_BIN:-}" ]; then
    say "=== building the DLL and the tools"
    bash scripts/build.sh windows OrvexFileSource player recorder >"$work/build.log" 2>&1 || {
        cat "$work/build.log"
        exit 1
    }
fi

if [ -n "${FILE:-}" ]; then
    media=$(cd "$(dirname "$FILE")" && pwd)/$(basename "$FILE")
    [ -s "$media" ] || { echo "demo: $FILE: no such file"; exit 1; }
    # The recorder paces a copy by the pack headers' clock, and the filter
    # offers MPEG-2 program streams: the file must begin with a pack header.
    [ "$(head -c 4 "$media" | od -An -tx1 | tr -d ' \n')" = 000001ba ] ||
        { echo "demo: $FILE: not an MPEG program stream (no pack header 00 00 01 BA at its start)"; exit 1; }
else
    media="$work/demo-${seconds}s-cbr.mpg"
    say "=== making a ${seconds} s MPEG-2 program stream with ffmpeg (once)"
    # A broadcast's rate, held constant as a DVB recorder's file grows.
    sh scripts/make-media.sh "$media" "$seconds" 640x360 6000k cbr >/dev/null 2>&1 || { echo "demo: ffmpeg failed"; exit 1; }
fi
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 \
    "$media" | tr -d '[:space:],')
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$media")
source_size=$(stat -c %s "$media")
[ "${frames:-0}" -gt 0 ] || { echo "demo: $media has no video frames"; exit 1; }

export ORVEX_WINEPREFIX="$work/wineprefix"
export ORVEX_WINE_DISPLAY=1
export WINEPREFIX="$ORVEX_WINEPREFIX"
wineserver -k 2>/dev/null
register() { WINEDEBUG=-all wine regsvr32 /s "$bin/OrvexFileSource.dll" >/dev/null 2>&1; }
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "=== creating the Wine prefix (once)"
    sh scripts/wine-run.sh "$bin/player.exe" --help >/dev/null 2>&1
fi
say "=== registering OrvexFileSource.dll"
if ! register; then
    # A prefix made before the Wine installation changed (wine32 added) may
    # no longer start: make it again, once.
    say "=== the Wine prefix does not start: creating it again"
    wineserver -k 2>/dev/null
    rm -rf "$WINEPREFIX"
    sh scripts/wine-run.sh "$bin/player.exe" --help >/dev/null 2>&1
    register || { echo "demo: regsvr32 failed"; exit 1; }
fi

recording="$work/recording.mpg"
rm -f "$recording" "$work"/*.png "$work/player.log"
say "=== recording $(basename "$media") (${duration%.*} s, $source_size bytes, $frames frames) at its own rate"
sh scripts/wine-run.sh "$bin/recorder.exe" "$recording" --copy "$media" --rate auto >"$work/recorder.log" 2>&1 &
recorder=$!
while [ ! -e "$recording" ] && kill -0 $recorder 2>/dev/null; do sleep 0.1; done

say "=== playing the recording while it grows"
sh scripts/wine-run.sh "$bin/player.exe" "$recording" --source '{50838349-7C4B-4700-AE28-23940A6BF6B6}' \
    --video window --page --progress --expect-frames "$frames" --timeout $((${duration%.*} + 60)) \
    >"$work/player.log" 2>"$work/player.stderr" &
player=$!

# One line a second from the player's progress lines; the screenshots once
# enough frames show, while the recorder still writes.
bytes_per_s=$(awk -v s="$source_size" -v d="$duration" 'BEGIN { printf "%.0f", s / d }')
say "     time       size    growth    read pos   read rate        lag   waiting  frames  stalls"
say "     (the component's two rates start ten seconds after its creation)"
shown_lines=0
video_shot=""
page_shot=""
while kill -0 $player 2>/dev/null; do
    sleep 0.25
    mapfile -t lines < <(grep '^progress: ' "$work/player.log" 2>/dev/null)
    while [ $shown_lines -lt ${#lines[@]} ]; do
        line=${lines[$shown_lines]}
        shown_lines=$((shown_lines + 1))
        [ "$quiet" = 1 ] && continue
        echo "$line" | awk -v bps="$bytes_per_s" '
            function v(k) { if (match($0, " " k "=[-0-9.]+")) return substr($0, RSTART + length(k) + 2, RLENGTH - length(k) - 2); return 0 }
            function kb(x) { return sprintf("%.0f KB", x / 1000) }
            { printf "%8.1fs %10s %6s/s %11s %7s/s %10s %9s %7d %7d\n", v("t"), kb(v("size")), kb(v("growth")),
                     kb(v("readpos")), kb(v("readrate")), sprintf("%.1f s", v("lag") / bps), kb(v("wait")),
                     v("frames"), v("stalls") }'
    done
    if kill -0 $recorder 2>/dev/null && [ $shown_lines -ge 3 ]; then
        if [ -z "$video_shot" ]; then
            import -window "ActiveMovie Window" "$work/video.png" 2>/dev/null && video_shot="$work/video.png"
        fi
        if [ -z "$page_shot" ]; then
            import -window "Properties for TallowFileSource" "$work/page.png" 2>/dev/null && page_shot="$work/page.png"
        fi
    fi
done
wait $player
player_rc=$?
wait $recorder
recorder_rc=$?

say "=== unregistering OrvexFileSource.dll"
WINEDEBUG=-all wine regsvr32 /s /u "$bin/OrvexFileSource.dll"
unreg_rc=$?
timeout 30 wineserver -w 2>/dev/null

summary=$(grep '^player: frames=' "$work/player.log" | tail -n 1)
field() { echo "$summary" | sed -n "s/.* $1=\([^ ]*\).*/\1/p"; }
final_size=$(stat -c %s "$recording" 2>/dev/null || echo 0)
shown=$(field frames)
stalls=$(field stalls)
read_pos=$(field read_pos)
lag_bytes=$(field max_lag_bytes)
lag_s=$(field max_lag_s)
ok=1
check() { if [ "$1" = yes ]; then echo "  $2"; else echo "  $2   <-- WRONG"; ok=0; fi; }
echo "=== summary"
check "$([ "$final_size" -eq "$source_size" ] && [ "$recorder_rc" -eq 0 ] && echo yes || echo no)" \
    "recorded:          $final_size bytes of $source_size"
# The splitter reads 32 KiB at a time; its last read is the one that holds
# the last byte. The player ends at the end of the stream (the read past the
# end fails once the writer is gone) or, when that comes later, once every
# frame is out, the writer gone and the stream silent for a second ("idle").
end=$(field end)
delivered=no
[ -n "$read_pos" ] && [ "$read_pos" -lt "$final_size" ] && [ $((final_size - read_pos)) -le 65536 ] &&
    { [ "$end" = complete ] || [ "$end" = idle ]; } && delivered=yes
check $delivered "bytes delivered:   $([ $delivered = yes ] && echo "$final_size" || echo "not all") of $final_size (the last read began at ${read_pos:-?}, $((final_size - ${read_pos:-0})) bytes before the end; playback ended: ${end:-?})"
check "$([ "${shown:-0}" = "$frames" ] && echo yes || echo no)" "frames shown:      ${shown:-0} of $frames"
check "$([ "${stalls:-1}" = 0 ] && echo yes || echo no)" "stalls:            ${stalls:-?}"
echo "  largest lag:       ${lag_bytes:-?} bytes behind the live edge (${lag_s:-?} s of the stream)"
check "$([ $unreg_rc -eq 0 ] && echo yes || echo no)" "unregistered:      the platform's own reader is back for MPEG-2 program streams"
[ -n "$video_shot" ] && echo "  screenshot:        $video_shot (the video, while the recording grew)" ||
    { echo "  screenshot of the video: none   <-- WRONG"; ok=0; }
[ -n "$page_shot" ] && echo "  screenshot:        $page_shot (the property page, while the recording grew)" ||
    { echo "  screenshot of the page: none   <-- WRONG"; ok=0; }
[ $player_rc -eq 0 ] || { echo "  the player ended with $player_rc: $(grep -v '^progress' "$work/player.log" | tail -n 3)"; ok=0; }
[ $ok = 1 ] && echo "demo: all checks passed" || echo "demo: a check failed"
[ $ok = 1 ]
