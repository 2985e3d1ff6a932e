#!/bin/sh
# The property page in the platform's property frame, on a virtual display
# of its own (Xvfb): registers the component with regsvr32 in a prefix of
# its own, runs page_dialog.exe (see page_dialog.cpp for what it checks) on
# the short test recording and a shorter copy of it, takes the screenshot of
# the frame the program asks for, and unregisters again. Prints the
# program's check lines when one fails, and always its summary line
# "wine page dialog: ..." and "wine page dialog: screenshot ...".
#
# Usage: page_dialog.sh BIN_DIR WORK_DIR MEDIA_DIR SHOT.png
set -u
if [ -z "${ORVEX_PAGE_XVFB:-}" ]; then
    # Always a virtual display of its own, so that nothing else is in the
    # picture; numbered from this process's own (see scripts/play-window.sh).
    export ORVEX_PAGE_XVFB=1
    exec xvfb-run -a -n $((300 + $$ % 500)) -s "-screen 0 1024x768x24" sh "$0" "$@"
fi
mkdir -p "$2" "$(dirname "$4")"
bin=$(cd "$1" && pwd)
work=$(cd "$2" && pwd)
mediadir=$3
shot=$(cd "$(dirname "$4")" && pwd)/$(basename "$4")
src=$(cd "$(dirname "$0")/../.." && pwd)
export ORVEX_WINEPREFIX="$work/wineprefix"
export ORVEX_WINE_DISPLAY=1
export WINEPREFIX="$ORVEX_WINEPREFIX"
export WINEDEBUG=-all

media="$mediadir/short.mpg"
sh "$src/scripts/make-media.sh" "$media" 4 || exit 1
cp "$media" "$work/first.mpg"
head -c 300000 "$media" >"$work/second.mpg"
done_file="$work/shot.done"
rm -f "$done_file" "$shot"

settle() {
    timeout 30 wineserver -w 2>/dev/null || wineserver -k 2>/dev/null
}
# A running server keeps the desktop it started with (headless or not).
settle
trap settle EXIT

t0=$(date +%s)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    timeout 180 sh "$src/scripts/wine-run.sh" cmd /c exit >/dev/null 2>&1
    echo "wine page dialog: prefix created in $(( $(date +%s) - t0 )) s"
fi
dll=$(winepath -w "$bin/OrvexFileSource.dll" 2>/dev/null)
timeout 60 sh "$src/scripts/wine-run.sh" regsvr32 /s "$dll" >/dev/null 2>&1
reg_rc=$?

log="$work/page_dialog.log"
timeout 180 sh "$src/scripts/wine-run.sh" "$bin/page_dialog.exe" "$(winepath -w "$work/first.mpg")" \
    "$(winepath -w "$work/second.mpg")" "$(winepath -w "$done_file")" >"$log" 2>"$work/page_dialog.stderr" &
pid=$!
shots=0
while kill -0 $pid 2>/dev/null; do
    geometry=$(tr -d '\r' <"$log" | sed -n 's/^screenshot: \([0-9-]*\) \([0-9-]*\) \([0-9]*\) \([0-9]*\)$/\3x\4+\1+\2/p')
    if [ -n "$geometry" ] && [ ! -f "$done_file" ]; then
        # The frame may be drawn a moment after it was laid out.
        while [ $shots -lt 20 ]; do
            shots=$((shots + 1))
            import -window root -crop "$geometry" +repage "$shot.tmp.png" 2>/dev/null
            if sh "$src/scripts/shows-picture.sh" "$shot.tmp.png"; then
                mv "$shot.tmp.png" "$shot"
                break
            fi
            sleep 0.3
        done
        rm -f "$shot.tmp.png"
        touch "$done_file"
    fi
    sleep 0.2
done
wait $pid
rc=$?
timeout 60 sh "$src/scripts/wine-run.sh" regsvr32 /s /u "$dll" >/dev/null 2>&1
unreg_rc=$?

[ $rc -eq 0 ] || { tr -d '\r' <"$log"; grep -v '^ALSA' "$work/page_dialog.stderr" | tail -n 20; }
summary=$(tr -d '\r' <"$log" | grep '^wine page dialog: ')
echo "${summary:-wine page dialog: no summary} rc=$rc regsvr32=$reg_rc/$unreg_rc run_s=$(( $(date +%s) - t0 ))"
if [ -s "$shot" ]; then
    echo "wine page dialog: screenshot $shot ($(identify -format '%wx%h' "$shot" 2>/dev/null), shot $shots)"
else
    echo "wine page dialog: screenshot none of $shots showed the frame"
    [ $rc -ne 0 ] || rc=1
fi
[ $reg_rc -eq 0 ] && [ $unreg_rc -eq 0 ] || [ $rc -ne 0 ] || rc=1
exit $rc
