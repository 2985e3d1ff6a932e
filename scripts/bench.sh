#!/bin/bash
# The benchmarks: every bench_* program natively (release tree), then the
# Windows build of each under Wine, the product's own figures. Each program
# measures against its baseline in the same run; Wine figures are the median
# of several repetitions. Ends with one line per headline figure
# ("name: value").
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh bench || exit 1
bash scripts/build.sh bench || exit 1
headlines=()
run() {
    local label=$1; shift
    echo "=== $label ==="
    local out rc
    out=$("$@" 2>&1)
    rc=$?
    printf '%s\n' "$out"
    [ $rc -eq 0 ] || { echo "$label failed ($rc)"; exit 1; }
    while IFS= read -r line; do headlines+=("$line"); done < <(printf '%s\n' "$out" | grep -E '^[a-z0-9_]+(\.[a-z0-9_]+)+: ')
}
shopt -s nullglob
for exe in build/bench/bin/bench_*; do
    [ -x "$exe" ] || continue
    run "$(basename "$exe")" "$exe" --repetitions=3
done
bash scripts/build.sh windows || exit 1
# Under Wine every kernel call is a round trip to the Wine server: a few
# microseconds when the server runs on the calling thread's core, 70 to 90
# when it runs on another, so unpinned figures move with the core the server
# lands on. With two cores or more the prefix's server runs on the last core
# and the benchmarks on the others, as on a desktop where the server runs
# beside the application.
export ORVEX_WINEPREFIX="$root/build/windows/wineprefix"
cores=$(nproc)
pin=()
if [ "$cores" -ge 2 ]; then
    sh scripts/wine-run.sh cmd /c exit >/dev/null 2>&1  # the prefix, created once
    WINEPREFIX="$ORVEX_WINEPREFIX" wineserver -k 2>/dev/null
    WINEPREFIX="$ORVEX_WINEPREFIX" timeout 30 wineserver -w 2>/dev/null
    WINEPREFIX="$ORVEX_WINEPREFIX" taskset -c $((cores - 1)) wineserver -p 60 </dev/null >/dev/null 2>&1
    pin=(taskset -c 0-$((cores - 2)))
    # The prefix's services start now, so that none holds a benchmark's output.
    "${pin[@]}" sh scripts/wine-run.sh cmd /c exit </dev/null >/dev/null 2>&1
    echo "Wine server on core $((cores - 1)), benchmarks on cores 0-$((cores - 2))"
fi
for exe in build/windows/bin/bench_*.exe; do
    run "$(basename "$exe") under Wine" "${pin[@]}" sh scripts/wine-run.sh "$exe" --headline-prefix=wine. \
        --baseline=readfile --repetitions=5
done
WINEPREFIX="$ORVEX_WINEPREFIX" wineserver -k 2>/dev/null
echo "=== headline figures ==="
[ ${#headlines[@]} -gt 0 ] && printf '%s\n' "${headlines[@]}" || echo "(no benchmarks yet)"
