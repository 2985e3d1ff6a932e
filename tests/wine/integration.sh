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
#              live edge: the same frame count, no stall, the lag
#   stop       the graph is stopped while a read waits for a file that stops
#              growing (its writer still holds it): Stop and the read end
#              within 600 ms, and the graph tears down at once
#   switch     Load of another file while the graph is paused: the second
#              file plays from its start, every frame of it
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
# 1 MB/s) with a tone, so that a growing copy is far larger than the
# filter's admission (786,432 bytes) and wait margin (2 MiB): the first read
# waits until the copy holds 2 MiB past it, about 2 s of stream, and the
# other 8 s are played while the recorder is still writing. At a test
# picture's own rate (100 KB/s) the 2 MiB margin would hold back 20 s, and
# the first read would wait for the whole file. Two video-only ones for the
# file switch, whose splitter then has a single stream.
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
        timeout 90 sh "$wr" "$bin/player.exe" "$@" --timeout 40 --graph \
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

# Growing: the graph must be built explicitly (Wine's file typing opens
# without share-write, which a file being written refuses).
grow="$work/growing.mpg"
rm -f "$grow"
sh "$wr" "$bin/recorder.exe" "$grow" --copy "$m/live.mpg" --rate auto >"$work/recorder.log" 2>&1 &
recorder=$!
await_file "$grow" 0
play growing "$grow" --source "$clsid" --expect-frames "$frames"
wait $recorder || fail playback "the recorder failed"

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
