#!/bin/sh
# Plays a file with the Wine player in a real video window (Wine's video
# renderer) and saves a screenshot of the screen once a number of frames has
# been shown. Without a display it runs itself on a virtual one (xvfb-run).
# Prints the player's output and "screenshot: PATH"; exits with the player's
# code, or 1 if no screenshot could be taken.
#
#   play-window.sh BIN_DIR SHOT.png FRAMES FILE [player options...]
set -u
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" sh "$0" "$@"
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
# been shown, or give up when the player has ended.
while kill -0 $pid 2>/dev/null; do
    shown=$(sed -n 's/^progress: .* frames=\([0-9]*\).*/\1/p' "$out" | tail -n 1)
    if [ "${shown:-0}" -ge "$after" ]; then
        import -window root "$shot" 2>/dev/null
        break
    fi
    sleep 0.2
done
wait $pid
rc=$?
WINEPREFIX="${ORVEX_WINEPREFIX:-$bin/../wineprefix}" timeout 30 wineserver -w 2>/dev/null
grep -v '^progress: ' "$out"
if [ ! -s "$shot" ]; then
    echo "screenshot: none"
    [ $rc -ne 0 ] || rc=1
else
    echo "screenshot: $shot"
fi
exit $rc
