#!/bin/bash
# make demo: a recording played while it is being recorded, through the
# component's filter in Wine's real DirectShow graph, with its live figures.
#
#   1. builds the DLL and the tools, creates a Wine prefix once (reused) and
#      registers the DLL in it;
#   2. makes a real MPEG-2 program stream with ffmpeg (a running clock and a
#      frame counter in the picture, and a tone; 60 s) unless FILE=... names
#      one of the user's own: any MPEG program stream with video (progressive
#      or interlaced, any size and rate) or with sound only (radio);
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
#      prints a summary; the exit status is not 0 when a check fails: every
#      byte recorded and delivered, every picture the recording holds shown
#      (counted as the sink gets them: one per field of an interlaced frame),
#      or, without video, all its sound played; no stall while a read waited
#      for the recorder (stalls with no read waiting, decoding and rendering
#      late on a busy machine, are reported apart and pass);
#   7. saves a screenshot of the playing video and one of the property page
#      once the component's rates run (ten seconds after it is created; a
#      recording played out before that has its page shot at the end).
# DEMO_SECONDS=N makes the generated recording N seconds long (make test runs
# a short one, with DEMO_WORK for its files, DEMO_BIN naming programs it has
# built already and DEMO_WINEPREFIX a prefix its demo runs share).
# DEMO_PAUSE=BYTES:MS has the recorder stop for MS once BYTES are written, as
# one that loses its signal: a check of the stall check.
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
# What the recording holds: its pictures (coded frames, their rate, whether
# they are interlaced), else its sound (a radio recording).
probe() { ffprobe -v error "$@" -of default=nw=1 "$media" 2>/dev/null; }
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p" | head -n 1 | tr -d '[:space:],'; }
video=$(probe -count_frames -select_streams v:0 -show_entries stream=nb_read_frames,r_frame_rate,field_order,width,height)
frames=$(value "$video" nb_read_frames)
frame_rate=$(value "$video" r_frame_rate)
field_order=$(value "$video" field_order)
size_text="$(value "$video" width)x$(value "$video" height)"
audio_duration=$(value "$(probe -select_streams a:0 -show_entries stream=duration)" duration)
duration=$(value "$(probe -show_entries format=duration)" duration)
source_size=$(stat -c %s "$media")
frames=${frames:-0}
case "$frames" in '' | *[!0-9]*) frames=0 ;; esac
case "$audio_duration" in '' | N/A) audio_duration= ;; esac
fps=$(awk -v r="$frame_rate" 'BEGIN { split(r, q, "/"); if (q[1] > 0) printf "%g", q[1] / (q[2] > 0 ? q[2] : 1) }')
if [ "$frames" -gt 0 ]; then
    kind="$size_text $( case "$field_order" in tt | bb | tb | bt) echo interlaced ;; *) echo progressive ;; esac), $frames frames at $fps fps"
elif [ -n "$audio_duration" ]; then
    kind="sound only: a radio recording"
else
    echo "demo: $FILE: neither video frames nor sound that ffprobe can decode"
    exit 1
fi
[ -n "$duration" ] && [ "$duration" != N/A ] || duration=${audio_duration:-0}
bytes_per_s=$(awk -v s="$source_size" -v d="$duration" 'BEGIN { printf "%.0f", (d > 0 ? s / d : s) }')

export ORVEX_WINEPREFIX="${DEMO_WINEPREFIX:-$work/wineprefix}"
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
say "=== recording $(basename "$media") ($kind; $(printf '%.1f' "$duration") s, $source_size bytes) at its own rate"
# Written in pieces of about an eighth of a second of the stream, as a
# recorder writes, so that even a radio recording grows every second.
chunk=$(( bytes_per_s / 8 / 2048 * 2048 ))
[ "$chunk" -ge 2048 ] || chunk=2048
[ "$chunk" -le 65536 ] || chunk=65536
sh scripts/wine-run.sh "$bin/recorder.exe" "$recording" --copy "$media" --rate auto --chunk "$chunk" \
    ${DEMO_PAUSE:+--pause "$DEMO_PAUSE"} >"$work/recorder.log" 2>&1 &
recorder=$!
# The recorder's first byte: the times to Load's return and to the first
# picture or sound count from it.
while [ ! -s "$recording" ] && kill -0 $recorder 2>/dev/null; do sleep 0.02; done
t_first_byte=$(date +%s.%N)

say "=== playing the recording while it grows"
if [ "$frames" -gt 0 ]; then
    # Counted in the pictures the sink gets: a decoder that shows each field
    # of an interlaced frame delivers two pictures a frame.
    expect=(--expect-frames "$frames" --frame-rate "$frame_rate")
else
    expect=(--timed audio --expect-seconds "$audio_duration")
fi
# A gap at the sink while a read waits for the recorder fails; one while no
# read waits (decoding and rendering late on a busy machine) is reported.
# The page stays up a moment at the end, for a recording that ends before
# the component's rates start.
sh scripts/wine-run.sh "$bin/player.exe" "$recording" --source '{50838349-7C4B-4700-AE28-23940A6BF6B6}' \
    --video window --page --page-hold 1500 --progress "${expect[@]}" --downstream-stalls report \
    --timeout $((${duration%.*} + 60)) >"$work/player.log" 2>"$work/player.stderr" &
player=$!

# One line a second from the player's progress lines (from the player's
# start: before the graph runs a read may wait for the recording to grow).
# The video's screenshot once a second of it has played; the page's once the
# component's rates run, else when the player holds it open at the end.
say "     time       size    growth    read pos   read rate        lag   waiting    played  stalls (source)"
say "     (the growth is measured from the first look at the file; the read rate starts ten seconds after the component's creation)"
shown_lines=0
playing_line=0
rates_seen=no
video_shot=""
video_when=""
page_shot=""
page_when=""
shoot() { import -window "$1" "$2" 2>/dev/null; }
field_of() { printf '%s\n' "$1" | sed -n "s/.* $2=\([^ ]*\).*/\1/p"; }
while kill -0 $player 2>/dev/null; do
    sleep 0.25
    mapfile -t lines < <(grep '^progress: ' "$work/player.log" 2>/dev/null)
    while [ $shown_lines -lt ${#lines[@]} ]; do
        line=${lines[$shown_lines]}
        shown_lines=$((shown_lines + 1))
        [ "$quiet" = 1 ] || echo "$line" | awk -v bps="$bytes_per_s" '
            function v(k) { if (match($0, " " k "=[-0-9.]+")) return substr($0, RSTART + length(k) + 2, RLENGTH - length(k) - 2); return 0 }
            function kb(x) { return sprintf("%.0f KB", x / 1000) }
            { played = index($0, " audio_s=") ? sprintf("%.1f s", v("audio_s")) : v("frames")
              printf "%8.1fs %10s %6s/s %11s %7s/s %10s %9s %9s %7d (%d)\n", v("t"), kb(v("size")), kb(v("growth")),
                     kb(v("readpos")), kb(v("readrate")), sprintf("%.1f s", v("lag") / bps), kb(v("wait")),
                     played, v("stalls"), v("source_stalls") }'
        [ "$(field_of "$line" frames)" -gt 0 ] 2>/dev/null && [ $playing_line = 0 ] && playing_line=$shown_lines
        { [ "$(field_of "$line" growth)" != 0 ] || [ "$(field_of "$line" readrate)" != 0 ]; } && rates_seen=yes
        rates_now=$([ "$(field_of "$line" growth)" != 0 ] || [ "$(field_of "$line" readrate)" != 0 ] && echo yes)
    done
    # The windows open when the graph runs; a second later they are drawn.
    if [ $playing_line -gt 0 ] && [ $shown_lines -ge $((playing_line + 1)) ]; then
        if [ "$frames" -gt 0 ] && [ -z "$video_shot" ] && shoot "ActiveMovie Window" "$work/video.png"; then
            video_shot="$work/video.png"
            kill -0 $recorder 2>/dev/null && video_when="while the recording grew" || video_when="after the recording was complete"
        fi
        if [ -z "$page_shot" ] && [ "${rates_now:-}" = yes ] &&
            shoot "Properties for TallowFileSource" "$work/page.png"; then
            page_shot="$work/page.png"
            kill -0 $recorder 2>/dev/null && page_when="while the recording grew" || page_when="after the recording was complete"
            page_when="$page_when, once the component's rates had started"
        fi
    fi
    if [ -z "$page_shot" ] && grep -q '^player: the page stays open' "$work/player.log" &&
        shoot "Properties for TallowFileSource" "$work/page.png"; then
        page_shot="$work/page.png"
        if [ $rates_seen = yes ]; then
            page_when="at the end of playback"
        else
            page_when="at the end of playback: the component's rates start ten seconds after its creation, and this recording played out before"
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
field() { field_of "$summary" "$1"; }
final_size=$(stat -c %s "$recording" 2>/dev/null || echo 0)
shown=$(field frames)
stalls=$(field stalls)
source_stalls=$(field source_stalls)
downstream_stalls=$(field downstream_stalls)
read_pos=$(field read_pos)
lag_bytes=$(field max_lag_bytes)
lag_s=$(field max_lag_s)
margin=$(field margin)
ok=1
check() { if [ "$1" = yes ]; then echo "  $2"; else echo "  $2   <-- WRONG"; ok=0; fi; }
echo "=== summary"
echo "  recording:         $(basename "$media") ($kind)"
check "$([ "$final_size" -eq "$source_size" ] && [ "$recorder_rc" -eq 0 ] && echo yes || echo no)" \
    "recorded:          $final_size bytes of $source_size"
# The splitter reads 32 KiB at a time; its last read is the one that holds
# the last byte or, for a recording that ends on a read's boundary, the one
# that begins at its end (it gets nothing, and the next one fails). The
# player ends at the end of the stream (the read past the end fails once the
# writer is gone) or, when that comes later, once every frame is out, the
# writer gone and the stream silent for a second ("idle").
# A splitter that reads ahead may also try the read after the end, which
# fails once the recording has ended and ends its stream: that last read
# begins up to one read past the end.
end=$(field end)
delivered=no
[ -n "$read_pos" ] && [ $((read_pos - final_size)) -le 65536 ] && [ $((final_size - read_pos)) -le 65536 ] &&
    { [ "$end" = complete ] || [ "$end" = idle ]; } && delivered=yes
where=$([ "${read_pos:-0}" -le "$final_size" ] && echo "$((final_size - ${read_pos:-0})) bytes before the end" ||
    echo "$((${read_pos:-0} - final_size)) bytes past the end, the read after the end that ends the stream")
check $delivered "bytes delivered:   $([ $delivered = yes ] && echo "$final_size" || echo "not all") of $final_size (the last read began at ${read_pos:-?}, $where; playback ended: ${end:-?})"
# The player counts what the sink gets against what the recording holds, in
# the sink's unit; when the recording was complete before the graph
# connected, Wine's splitter ends the streams at the file's duration, which
# cuts the end of the last one (its time stamps begin later than the clock):
# then what begins before that end.
stream_end=$(field stream_end_s)
cut_note=""
[ "$(field cut_at_stream_end)" = yes ] &&
    cut_note="; the recording was complete when the graph connected, and the splitter ends the stream at ${stream_end} s, its duration"
if [ "$frames" -gt 0 ]; then
    want=$(field expected_frames)
    fields=$(awk -v w="${want:-0}" -v f="$frames" -v r="$frame_rate" -v i="$(field frame_interval_ms)" 'BEGIN {
        split(r, q, "/"); rate = q[1] / (q[2] ? q[2] : 1); n = (i > 0 && rate > 0) ? int(1000 / rate / i + 0.5) : 1
        print n }')
    note=""
    [ "${fields:-1}" -gt 1 ] && note="$frames coded frames; the decoder shows each of their $fields fields as a picture"
    note="$note$cut_note"
    check "$([ -n "$want" ] && [ "$player_rc" -ne 1 ] && [ "${shown:-0}" = "$want" ] && echo yes || echo no)" \
        "frames shown:      ${shown:-0} of ${want:-$frames}${note:+ (${note#; })}"
else
    played=$(field media_s)
    want=$(field expected_s)
    check "$(awk -v p="${played:-0}" -v w="${want:-$audio_duration}" 'BEGIN { print ((p + 0.1 >= w) ? "yes" : "no") }')" \
        "audio played:      ${played:-0} s of ${want:-$audio_duration} s${cut_note:+ (${cut_note#; })}"
fi
check "$([ "${source_stalls:-1}" = 0 ] && echo yes || echo no)" \
    "stalls:            ${stalls:-?} (source ${source_stalls:-?}, downstream ${downstream_stalls:-?})"
[ "${downstream_stalls:-0}" = 0 ] ||
    echo "                     downstream: decoding and rendering fell behind on this machine, while no read waited for the recorder"
end_wait=$(field end_wait_ms)
[ -z "$end_wait" ] ||
    echo "  the end:           the last $([ "$frames" -gt 0 ] && echo pictures || echo sound) came $(awk -v m="$end_wait" 'BEGIN { printf "%.1f", m / 1000 }') s late: the filter held the recording's last bytes until it took the recorder's close for the end (a recorder may open its file again)"
echo "  largest lag:       ${lag_bytes:-?} bytes behind the live edge (${lag_s:-?} s of the stream)"
# The wait margin in effect at the end: a second of the recording's measured
# growth unless set in bytes (the player's --wait-margin, the control
# interface's SetBuffSize).
margin_ms=$(field margin_ms)
margin_kb=$(awk -v m="${margin:-0}" 'BEGIN { printf "%.0f", m / 1024 }')
margin_s=$(awk -v ms="${margin_ms:-0}" -v m="${margin:-0}" -v b="$bytes_per_s" \
    'BEGIN { printf "%.1f", (ms > 0 ? ms / 1000 : m / b) }')
if [ "$(field margin_measured)" = yes ]; then
    echo "  wait margin:       $margin_s s of this stream, $margin_kb KB (measured growth)"
elif [ -n "$margin" ]; then
    echo "  wait margin:       $margin_kb KB, set in bytes ($margin_s s of this stream)"
    # At a low bit rate a margin in bytes (a read near the end of a growing
    # file waits until the file holds that much past it) is most of the lag.
    [ "$margin" -gt 0 ] && [ "${lag_bytes:-0}" -gt 0 ] && [ $((margin * 2)) -ge "$lag_bytes" ] &&
        echo "  the wait margin of $margin_kb KB is $margin_s s of this stream; lower it on the property page or through SetBuffSize"
fi
# From the recorder's first byte to Load's return and to the first picture
# (or sound) at the sink.
since_first() { awk -v t="$1" -v t0="$t_first_byte" 'BEGIN { if (t > 0) printf "%.1f s", t - t0; else printf "?" }'; }
echo "  after the first byte: Load returned in $(since_first "$(field load_unix)"), the first $([ "$frames" -gt 0 ] && echo picture || echo sound) came in $(since_first "$(field first_unix)")"
check "$([ $unreg_rc -eq 0 ] && echo yes || echo no)" "unregistered:      the platform's own reader is back for MPEG-2 program streams"
if [ "$frames" -gt 0 ]; then
    [ -n "$video_shot" ] && echo "  screenshot:        $video_shot (the video, $video_when)" ||
        { echo "  screenshot of the video: none   <-- WRONG"; ok=0; }
fi
[ -n "$page_shot" ] && echo "  screenshot:        $page_shot (the property page, $page_when)" ||
    { echo "  screenshot of the page: none   <-- WRONG"; ok=0; }
[ $player_rc -eq 0 ] || { echo "  the player ended with $player_rc: $(grep -v '^progress' "$work/player.log" | tail -n 3)"; ok=0; }
[ $ok = 1 ] && echo "demo: all checks passed" || echo "demo: a check failed"
[ $ok = 1 ]
