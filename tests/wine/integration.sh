#!/bin/sh
# The component in Wine's real DirectShow runtime, in a prefix of its own:
#   registry   regsvr32 (twice) writes the tabled keys and values and the
#              filter mapper's entry, and keeps Wine's own "Media Type" entry
#              for MPEG-2 program streams; unregistration (at the end)
#              removes ours and puts Wine's back
#   refused    bytes that are no media: the filter's Load refuses them
#   finished   a finished recording (video and audio) opened by the graph's
#              own file typing (AddSourceFilter): our filter, chosen by the
#              check bytes, connected to Wine's splitter; EC_COMPLETE, and
#              every frame ffprobe counts reaches the sink without a stall
#   window     the same by RenderFile, in Wine's video renderer on Xvfb, with
#              a screenshot that must show the picture
#   growing    the Wine recorder copies that recording at its own bit rate
#              while an explicit graph plays it at normal speed behind the
#              live edge: the same frame count, no stall, at most 3 s behind
#   stop       the graph is stopped while a read waits for a file that stops
#              growing (its writer still holds it): Stop and the read end
#              within 600 ms, and the graph tears down at once
#   switch     Load of another file while the graph is paused: the second
#              file plays from its start, every frame of it
#   chunks     a recorder that closes its file for 2 s after every 2 MB,
#              from its first chunk on (its writes then come in bursts)
#   bursts     a recorder that writes 4 s of the stream at once every 4 s
#              (both: every frame, no source stall, the end within the
#              grace the recorder's gaps earn after its last close)
#   reopens    a recorder that closes its file for 300 ms after every
#              512 KiB, for a minute: none of its reopens meets the filter's
#              writer probe (a recorder that does not retry would lose its
#              recording)
#   sd         a 2 Mbit/s recording: every frame, at most 3 s behind the
#              live edge
#   radio      a radio recording (MP2 at 128 kbit/s, 40 s): all of its
#              sound, the first within 10 s of the recorder's first byte
# Prints one line per step beginning "wine registry:" or "wine playback:".
#
# Usage: integration.sh BIN_DIR WORK_DIR MEDIA_DIR
set -u
bin=$(cd "$1" && pwd)
work=$2
mediadir=$3
src=$(cd "$(dirname "$0")/../.." && pwd)
clsid='{50838349-7C4B-4700-AE28-23940A6BF6B6}'
mkdir -p "$work" "$mediadir"
work=$(cd "$work" && pwd)
export ORVEX_WINEPREFIX="$work/wineprefix"
dll="$bin/OrvexFileSource.dll"
wr="$src/scripts/wine-run.sh"
# Whatever the runs leave (wineserver, services) ends before the next step.
settle() {
    WINEPREFIX="$ORVEX_WINEPREFIX" timeout 30 wineserver -w 2>/dev/null ||
        WINEPREFIX="$ORVEX_WINEPREFIX" wineserver -k 2>/dev/null
}
trap settle EXIT
failed=0
fail() {
    echo "wine $1: FAILED: $2"
    failed=1
}

# The recordings: 10 s of 640x360 MPEG-2 at a constant 8 Mbit/s (about
# 1 MB/s) with a tone, far larger than the filter's admission (768 KiB) and
# its wait margin (a second of the measured growth), so that most of it
# plays while the recorder still writes. Two video-only ones for the file
# switch, whose splitter then has a single stream. The recorders' other ways
# and the other rates make theirs below.
m="$mediadir"
sh "$src/scripts/make-media.sh" "$m/live.mpg" 10 640x360 8000k cbr || exit 1
sh "$src/scripts/make-media.sh" "$m/short.mpg" 4 || exit 1
sh "$src/scripts/make-media.sh" "$m/first-v.mpg" 10 640x360 8000k cbr video-only || exit 1
sh "$src/scripts/make-media.sh" "$m/second-v.mpg" 4 640x360 8000k cbr video-only || exit 1
frames=$(cat "$m/live.mpg.frames")

if [ ! -f "$ORVEX_WINEPREFIX/system.reg" ]; then
    t0=$(date +%s)
    timeout 120 sh "$wr" "$bin/player.exe" --help >/dev/null 2>&1
    echo "wine prefix: created in $(( $(date +%s) - t0 )) s"
fi

# ---------------------------------------------------------------- registry

# The keys and values under the given keys of HKEY_CLASSES_ROOT (64-bit
# view), one "key" or "key|value|type|data" line each, sorted; nothing for a
# key that is not there.
regdump() {
    bat="$work/query.bat"
    printf '@echo off\r\n' >"$bat"
    for k in "$@"; do
        printf 'reg query "HKCR\\%s" /s /reg:64\r\n' "$k" >>"$bat"
    done
    sh "$wr" cmd /c "$bat" 2>/dev/null | awk '
        { sub(/\r$/, "") }
        /^HKEY_/ { key = $0; print key; next }
        /^    / {
            line = substr($0, 5); n = index(line, "    ")
            name = substr(line, 1, n - 1); rest = substr(line, n + 4); t = index(rest, "    ")
            print key "|" name "|" substr(rest, 1, t - 1) "|" substr(rest, t + 4)
        }' | sort
}
mtype='Media Type\{e436eb83-524f-11ce-9f53-0020af0ba770}\{e06d8022-db46-11cf-b4d1-00805f6cbbea}'
ours="OrvexFileSource.CoFileSource.1 OrvexFileSource.CoFileSource CLSID\\$clsid"
mapper="CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\$clsid"
C=HKEY_CLASSES_ROOT
module="Z:$(printf '%s' "$dll" | tr / '\\')"

t0=$(date +%s)
# A registration an earlier run left behind goes first.
sh "$wr" regsvr32 /s /u "$dll" >/dev/null 2>&1
before=$(regdump "$mtype")
wine_entry="$C\\$mtype|Source Filter|REG_SZ|{e436ebb5-524f-11ce-9f53-0020af0ba770}"
printf '%s\n' "$before" | grep -qxF "$wine_entry" ||
    fail registry "Wine's own reader is not the MPEG-2 program stream source before registration: $before"
# shellcheck disable=SC2086
[ -z "$(regdump $ours "$mapper")" ] || fail registry "keys of ours before registration"

sh "$wr" regsvr32 /s "$dll" >/dev/null 2>&1 && sh "$wr" regsvr32 /s "$dll" >/dev/null 2>&1 ||
    fail registry "regsvr32 failed"
# shellcheck disable=SC2086
got=$(regdump $ours "$mtype")
kept=$(printf '%s\n' "$before" | sed "s|^$C\\\\|$C\\\\CLSID\\\\$clsid\\\\Replaced Keys\\\\|")
want=$(sort <<EOF
$C\\OrvexFileSource.CoFileSource.1
$C\\OrvexFileSource.CoFileSource.1|(Default)|REG_SZ|TallowFileSource
$C\\OrvexFileSource.CoFileSource.1\\CLSID
$C\\OrvexFileSource.CoFileSource.1\\CLSID|(Default)|REG_SZ|$clsid
$C\\OrvexFileSource.CoFileSource
$C\\OrvexFileSource.CoFileSource|(Default)|REG_SZ|DS File Source
$C\\OrvexFileSource.CoFileSource\\CLSID
$C\\OrvexFileSource.CoFileSource\\CLSID|(Default)|REG_SZ|$clsid
$C\\OrvexFileSource.CoFileSource\\CurVer
$C\\OrvexFileSource.CoFileSource\\CurVer|(Default)|REG_SZ|OrvexFileSource.CoFileSource.1
$C\\CLSID\\$clsid
$C\\CLSID\\$clsid|(Default)|REG_SZ|TallowFileSource
$C\\CLSID\\$clsid\\InprocServer32
$C\\CLSID\\$clsid\\InprocServer32|(Default)|REG_SZ|$module
$C\\CLSID\\$clsid\\InprocServer32|ThreadingModel|REG_SZ|Both
$C\\CLSID\\$clsid\\ProgID
$C\\CLSID\\$clsid\\ProgID|(Default)|REG_SZ|OrvexFileSource.CoFileSource.1
$C\\CLSID\\$clsid\\VersionIndependentProgID
$C\\CLSID\\$clsid\\VersionIndependentProgID|(Default)|REG_SZ|OrvexFileSource.CoFileSource
$C\\CLSID\\$clsid\\Replaced Keys
$C\\CLSID\\$clsid\\Replaced Keys|$mtype|REG_SZ|1
$C\\CLSID\\$clsid\\Replaced Keys\\Media Type
$C\\CLSID\\$clsid\\Replaced Keys\\Media Type\\{e436eb83-524f-11ce-9f53-0020af0ba770}
$kept
$C\\$mtype
$C\\$mtype|0|REG_SZ|0, 5, FFFFFFFFC0 ,000001BA40
$C\\$mtype|Source Filter|REG_SZ|$clsid
EOF
)
if [ "$got" != "$want" ]; then
    fail registry "keys after registering twice differ from the table:"
    printf '%s\n' "$want" >"$work/registry.want"
    printf '%s\n' "$got" >"$work/registry.got"
    diff "$work/registry.want" "$work/registry.got"
fi
# The filter mapper's entry: merit 0x200000 (do not use), one output pin
# ("0pi3", flags 8) of one type ("0ty3"), MEDIATYPE_Stream with no subtype.
filterdata='020000000000200001000000000000003070693308000000010000000100000000000000000000003074793300000000380000004800000083EB36E44F52CE119F530020AF0BA77000000000000000000000000000000000'
want_mapper=$(sort <<EOF
$C\\$mapper
$C\\$mapper|CLSID|REG_SZ|$clsid
$C\\$mapper|FilterData|REG_BINARY|$filterdata
$C\\$mapper|FriendlyName|REG_SZ|TallowFileSource
EOF
)
[ "$(regdump "$mapper")" = "$want_mapper" ] || fail registry "filter mapper entry: $(regdump "$mapper")"
echo "wine registry: registered twice in $(( $(date +%s) - t0 )) s: $(printf '%s\n' "$got" | grep -c '|') values as tabled, Wine's entry kept under Replaced Keys, filter mapper merit 0x200000"

# ---------------------------------------------------------------- playback

# play NAME PLAYER_ARGS...: one player run; prints its figures.
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
        env -u DISPLAY timeout 90 sh "$src/scripts/play-window.sh" "$bin" "$work/window.png" 25 "$@" \
            --timeout 40 --graph >"$log" 2>"$work/$name.stderr"
    else
        timeout $((${play_timeout:-40} + 50)) sh "$wr" "$bin/player.exe" "$@" --timeout "${play_timeout:-40}" --graph \
            >"$log" 2>"$work/$name.stderr"
    fi
    rc=$?
    line=$(grep '^player: frames=' "$log" | sed 's/^player: //')
    extra=$(grep -E '^player: (switch:|stopped while)' "$log" | sed 's/^player: / /' | tr -d '\n')
    built=$(sed -n 's/^player: graph built in \([0-9]*\) ms.*/ build_ms=\1/p' "$log")
    shot=$(grep '^screenshot: ' "$log" | sed 's/^screenshot: / screenshot=/')
    echo "wine playback: $name ${line:-no figures}$built$extra rc=$rc run_s=$(( $(date +%s) - t0 ))$shot"
    if [ $rc -ne 0 ]; then
        cat "$log"
        grep -v '^ALSA\|^Expression' "$work/$name.stderr" | tail -n 20
        failed=1
    fi
}

# The source must be ours, chosen by the check bytes, and its pin connected
# to Wine's splitter.
check_graph() {
    awk -v c="$clsid" '
        /^graph: filter / { ours = index($0, c) > 0; next }
        ours && /^graph:   "Output" -> "GStreamer splitter filter"\."input pin"/ { found = 1 }
        END { exit !found }' "$work/$1.log" || fail playback "$1: our filter is not the source connected to Wine's splitter"
}

noise="$work/noise.bin"
awk 'BEGIN { srand(7); for (i = 0; i < 20000; i++) printf "%c", 32 + int(rand() * 90) }' >"$noise"
timeout 60 sh "$wr" "$bin/player.exe" "$noise" --source "$clsid" --timeout 10 >"$work/refused.log" 2>/dev/null
rc=$?
echo "wine playback: refused $(sed -n 's/^player: graph built in [0-9]* ms: /hr=/p' "$work/refused.log") rc=$rc"
[ $rc -eq 3 ] || fail playback "bytes that are no media were not refused"

play finished "$m/live.mpg" --source auto --expect-source "$clsid" --expect-frames "$frames"
check_graph finished
play window "$m/short.mpg" --renderfile --expect-source "$clsid" --expect-frames "$(cat "$m/short.mpg.frames")"
check_graph window

# Waits until the file exists and holds at least $2 bytes.
await_file() {
    i=0
    while [ $i -lt 300 ] && [ "$(stat -c %s "$1" 2>/dev/null || echo -1)" -lt "$2" ]; do
        sleep 0.1
        i=$((i + 1))
    done
}

# Growing (below, with the recorders' other ways): the graph must be built
# explicitly (Wine's file typing opens without share-write, which a file
# being written refuses).

# Stop while a read waits: the writer copies the first 3 MiB at once and
# holds the file; playing it, a read near its end waits for growth.
head -c 3145728 "$m/live.mpg" >"$work/head.mpg"
held="$work/held.mpg"
rm -f "$held"
sh "$wr" "$bin/recorder.exe" "$held" --copy "$work/head.mpg" --rate 0 --hold 60000 >/dev/null 2>&1 &
recorder=$!
await_file "$held" 3145728
play stop "$held" --source "$clsid" --stop-when-waiting 600
kill $recorder 2>/dev/null
wait $recorder 2>/dev/null

play switch "$m/first-v.mpg" --source "$clsid" --switch "$m/second-v.mpg" --switch-after 50 \
    --expect-switch-frames "$(cat "$m/second-v.mpg.frames")"

# ---------------------------------------------------------------- recorders and rates

# live NAME MEDIA "RECORDER_ARGS" PLAYER_ARGS...: the Wine recorder copies
# MEDIA at its own rate (and in its own way) while an explicit graph plays
# the copy. Sets, from the recorder's first byte: load_s and first_s (to
# Load's return and to the first picture or sound), lag_s (the largest lag
# once playing), end_s (from the recording's last write to the player's end).
live() {
    name=$1 media=$2 recargs=$3
    shift 3
    rec="$work/$name.mpg"
    rm -f "$rec"
    # shellcheck disable=SC2086
    sh "$wr" "$bin/recorder.exe" "$rec" --copy "$media" --rate auto $recargs >"$work/$name.rec" 2>&1 &
    recorder=$!
    while [ ! -s "$rec" ] && kill -0 $recorder 2>/dev/null; do sleep 0.02; done
    t_first=$(date +%s.%N)
    play "$name" "$rec" --source "$clsid" "$@"
    t_end=$(date +%s.%N)
    wait $recorder || fail playback "$name: the recorder failed: $(cat "$work/$name.rec")"
    figure() { sed -n "s/^player: frames=.* $1=\([-0-9.]*\).*/\1/p" "$work/$name.log"; }
    load_s=$(awk -v t="$(figure load_unix)" -v t0="$t_first" 'BEGIN { printf "%.1f", (t > 0 ? t - t0 : 99) }')
    first_s=$(awk -v t="$(figure first_unix)" -v t0="$t_first" 'BEGIN { printf "%.1f", (t > 0 ? t - t0 : 99) }')
    lag_s=$(figure max_lag_s)
    end_s=$(awk -v t="$t_end" -v w="$(stat -c %.9Y "$rec")" 'BEGIN { printf "%.1f", t - w }')
    echo "wine playback: $name from the first byte: Load ${load_s} s, first ${first_s} s; largest lag ${lag_s:-?} s; ended ${end_s} s after the last write$(sed -n 's/^recorder: / /p' "$work/$name.rec")"
}
at_most() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a != "" && a <= b) }'; }

# Chunks of 2 MB (2 s of stream) with the file closed for 2 s after each:
# the recorder is late after every close and writes what it missed at once.
# A gap learnt is given twice its length: the end comes within 4 s of the
# last close (and the player's own second of silence).
live chunks "$m/live.mpg" "--close-every 2000000 --close-for 2000" --expect-frames "$frames"
at_most "$end_s" 7 || fail playback "chunks: ended $end_s s after the last write"
# Until the source has seen the first burst its margin is smaller than one:
# playback may stall in the first burst's time, not after.
live bursts "$m/live.mpg" "--burst 4" --expect-frames "$frames" --settle 4
at_most "$end_s" 6 || fail playback "bursts: ended $end_s s after the last write"

# A minute of a recorder that reopens its file every 512 KiB: the filter
# probes for a writer only when the file has not grown, and holds the probe
# for that call alone.
sh "$src/scripts/make-media.sh" "$m/minute.mpg" 60 640x360 4000k cbr >/dev/null || exit 1
play_timeout=90 live reopens "$m/minute.mpg" "--close-every 524288 --close-for 300" \
    --expect-frames "$(cat "$m/minute.mpg.frames")"
grep -q '^recorder: reopens refused: 0 of [1-9]' "$work/reopens.rec" ||
    fail playback "reopens: the filter's probe met the recorder's reopens: $(cat "$work/reopens.rec")"

sh "$src/scripts/make-media.sh" "$m/sd.mpg" 20 640x360 2000k cbr >/dev/null || exit 1
live sd "$m/sd.mpg" "" --expect-frames "$(cat "$m/sd.mpg.frames")"
at_most "$lag_s" 3 || fail playback "sd: $lag_s s behind the live edge"
live growing "$m/live.mpg" "" --expect-frames "$frames"
at_most "$lag_s" 3 || fail playback "growing: $lag_s s behind the live edge"

sh "$src/scripts/make-media.sh" "$m/radio.mpg" 40 320x240 1500k audio-only audio=128k >/dev/null || exit 1
# Written in small pieces, as a radio recorder writes its packets.
play_timeout=70 live radio "$m/radio.mpg" "--chunk 2048" --timed audio --expect-seconds 40
at_most "$first_s" 10 || fail playback "radio: the first sound came $first_s s after the first byte"

# ---------------------------------------------------------------- unregistration

settle
sh "$wr" regsvr32 /s /u "$dll" >/dev/null 2>&1 || fail registry "regsvr32 /u failed"
# shellcheck disable=SC2086
left=$(regdump $ours "$mapper")
after=$(regdump "$mtype")
[ -z "$left" ] || fail registry "left after unregistration: $left"
[ "$after" = "$before" ] || fail registry "Wine's entry not restored: $after"
echo "wine registry: unregistered: our keys and the filter mapper entry gone, Wine's reader restored as the MPEG-2 program stream source"
exit $failed
