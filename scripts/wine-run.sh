#!/bin/sh
# Runs a Windows program of a build tree under Wine, in the tree's private
# prefix (<tree>/wineprefix, created once), without a display and without
# Wine's Mono and Gecko installers.
set -e
exe="$1"
bindir=$(cd "$(dirname "$exe")" && pwd)
export WINEPREFIX="${ORVEX_WINEPREFIX:-$(dirname "$bindir")/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -n "$ORVEX_WINE_DISPLAY" ] || unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    flock "$WINEPREFIX.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }'
fi
exec wine "$@"
