#!/bin/sh
# Plays a file with the Wine player in a real video window (Wine's video
# renderer) and saves a screenshot of the screen once a number of frames has
# been shown and the picture is on the screen. Without a display it runs
# itself on a virtual one (xvfb-run). Prints the player's output and
# "screenshot: PATH"; exits with the player's code, or 1 if no screenshot
# showed a picture.
#
#   play-window.sh BIN_DIR SHOT.png FRAMES FILE [player options...]
set -u
if [ -z "${DISPLAY:-}" ]; then
    # A free display from a number of this process's own: two xvfb-run -a
    # started together both try :99 first and may meet on one server.
    exec xvfb-run -a -n $((200 + $$ % 500)) -s "-screen 0 1024x768x24" sh "$0" "$@"
fi
bin=$1
shot=$2
after=$3
shift 3
root=$(cd "$(dirname "$0")/.." && pwd)
out="$shot.player.log"
mkdir -p "$(dirname "$shot")"
rm -f "$shot"
ORVEX_WINE_DISPLAY=1 sh "$root/scripts/wine-run.sh" "$bin/player.exe" "$@" --video window --progress \
    >"$out" 2>"$out.stderr" &
pid=$!
# The player prints a progress line a second; shoot once enough frames have
# been shown, again until the picture is there, or give up when the player
# has ended.
shots=0
while kill -0 $pid 2>/dev/null; do
    shown=$(sed -n 's/^progress: .* frames=\([0-9]*\).*/\1/p' "$out" | tail -n 1)
    if [ "${shown:-0}" -ge "$after" ]; then
        import -window root "$shot.tmp.png" 2>/dev/null
        shots=$((shots + 1))
        if sh "$root/scripts/shows-picture.sh" "$shot.tmp.png"; then
            mv "$shot.tmp.png" "$shot"
            break
        fi
    fi
    sleep 0.3
done
rm -f "$shot.tmp.png"
wait $pid
rc=$?
WINEPREFIX="${ORVEX_WINEPREFIX:-$bin/../wineprefix}" timeout 30 wineserver -w 2>/dev/null
grep -v '^progress: ' "$out"
if [ ! -s "$shot" ]; then
    echo "screenshot: none of $shots showed the picture"
    [ $rc -ne 0 ] || rc=1
else
    echo "screenshot: $shot (shot $shots)"
fi
exit $rc
