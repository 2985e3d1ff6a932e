#!/bin/sh
# Both builds of the component side by side in one Wine prefix, as they are
# shipped: the x86 DLL registered by the 32-bit regsvr32 (the registry's
# 32-bit view), the x86_64 DLL by the 64-bit one. A 32-bit player and a 64-bit
# player each let the graph manager build the whole graph for an MPEG-2
# program stream (RenderFile: the source chosen by its check bytes) and play
# it to the end in a video window, on a virtual display of the test's own
# (Wine's video renderer needs one). Each must get the component's filter from the DLL of its own
# architecture (Wine's load trace names the file). Then one build is
# unregistered at a time: the other goes on working, and the unregistered
# view has the platform's own reader back.
# Prints one line per run beginning "wine playback:".
#
# Usage: two_arches.sh X86_BIN_DIR X64_BIN_DIR WORK_DIR MEDIA_DIR
set -u
if [ -z "${ORVEX_TWO_ARCHES_DISPLAY:-}" ]; then
    # A display number of this process's own (see scripts/play-window.sh).
    exec env ORVEX_TWO_ARCHES_DISPLAY=1 xvfb-run -a -n $((700 + $$ % 200)) -s "-screen 0 1024x768x24" sh "$0" "$@"
fi
export ORVEX_WINE_DISPLAY=1
bin32=$1
bin64=$2
work=$3
mediadir=$4
src=$(cd "$(dirname "$0")/../.." && pwd)
ours='{50838349-7C4B-4700-AE28-23940A6BF6B6}'
reader='{E436EBB5-524F-11CE-9F53-0020AF0BA770}'
mkdir -p "$work"
export ORVEX_WINEPREFIX="$work/wineprefix"
for f in "$bin32/player.exe" "$bin32/OrvexFileSource.dll" "$bin64/player.exe" "$bin64/OrvexFileSource.dll"; do
    [ -f "$f" ] || { echo "two_arches: $f is missing (build both Windows trees first)"; exit 1; }
done

media="$mediadir/short.mpg"
sh "$src/scripts/make-media.sh" "$media" 4 || exit 1
frames=$(cat "$media.frames")

settle() {
    WINEPREFIX="$ORVEX_WINEPREFIX" timeout 30 wineserver -w 2>/dev/null ||
        WINEPREFIX="$ORVEX_WINEPREFIX" wineserver -k 2>/dev/null
}
trap settle EXIT
if [ ! -f "$ORVEX_WINEPREFIX/system.reg" ]; then
    t0=$(date +%s)
    timeout 120 sh "$src/scripts/wine-run.sh" "$bin32/player.exe" --help >/dev/null 2>&1
    echo "wine prefix: created in $(( $(date +%s) - t0 )) s (32-bit and 64-bit)"
fi
dll32=$(WINEPREFIX="$ORVEX_WINEPREFIX" WINEDEBUG=-all winepath -w "$bin32/OrvexFileSource.dll" 2>/dev/null)
dll64=$(WINEPREFIX="$ORVEX_WINEPREFIX" WINEDEBUG=-all winepath -w "$bin64/OrvexFileSource.dll" 2>/dev/null)

failed=0
# regsvr32 of one architecture: 32 (syswow64) or 64 (system32), then /u or not.
regsvr() {
    arch=$1
    shift
    dir=system32
    dll=$dll64
    [ "$arch" = 32 ] && { dir=syswow64; dll=$dll32; }
    if ! timeout 60 sh "$src/scripts/wine-run.sh" "C:\\windows\\$dir\\regsvr32.exe" /s "$@" "$dll" >/dev/null 2>&1; then
        echo "wine playback: regsvr32 ($arch-bit) $* failed"
        failed=1
    fi
}
# play NAME ARCH SOURCE DLL: the player of that architecture renders the file;
# the source must be SOURCE, and the component's module loaded must be
# DLL ("" for none).
play() {
    name=$1 arch=$2 source=$3 want=$4
    bin=$bin64
    [ "$arch" = 32 ] && bin=$bin32
    log="$work/$name.log"
    t0=$(date +%s)
    WINEDEBUG=-all,+loaddll timeout 90 sh "$src/scripts/wine-run.sh" "$bin/player.exe" "$media" --renderfile \
        --expect-source "$source" --expect-frames "$frames" --timeout 30 >"$log" 2>"$work/$name.stderr"
    rc=$?
    # Wine's load trace: Loaded L"Z:\\...\\OrvexFileSource.dll" at ...
    loaded=$(sed -n 's/.*Loaded L"\([^"]*OrvexFileSource\.dll\)".*/\1/p' "$work/$name.stderr" | sed 's/\\\\/\\/g' |
        sort -u | tr '\n' ' ' | sed 's/ $//')
    line=$(grep '^player: frames=' "$log" | sed 's/^player: //')
    case "$line" in *video=window*) ;; *) echo "wine playback: $name did not play in a window"; failed=1 ;; esac
    # printf: the Windows paths hold backslashes that echo would take for escapes.
    printf 'wine playback: %s %s expected=%s rc=%s run_s=%s module=%s\n' "$name" "${line:-no figures}" "$frames" \
        "$rc" "$(( $(date +%s) - t0 ))" "${loaded:-none}"
    if [ $rc -ne 0 ] || [ "$loaded" != "$want" ]; then
        [ "$loaded" != "$want" ] && printf '  expected module: %s\n' "${want:-none}"
        cat "$log"
        grep -v 'trace:loaddll' "$work/$name.stderr" | tail -n 20
        failed=1
    fi
}

regsvr 64
regsvr 32
play x86.both 32 "$ours" "$dll32"
play x86_64.both 64 "$ours" "$dll64"
regsvr 32 /u
play x86_64.x86-unregistered 64 "$ours" "$dll64"
play x86.x86-unregistered 32 "$reader" ""
regsvr 32
regsvr 64 /u
play x86.x86_64-unregistered 32 "$ours" "$dll32"
play x86_64.x86_64-unregistered 64 "$reader" ""
regsvr 32 /u
exit $failed
