#!/bin/bash
# The benchmarks: every bench_* program natively (release tree), then the
# Windows build of each under Wine, the product's own figures, and the x86
# build's reader benchmark under 32-bit Wine. Each program measures against
# its baseline in the same run; Wine figures are the median of several
# repetitions. Ends with one line per headline figure ("name: value").
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
# tfs-cat against cat on a complete, page-cached file of 512 MiB, each the
# median of three runs into /dev/null.
tfs_cat_bench() {
    local dir file
    dir=$(mktemp -d)
    file="$dir/complete.bin"
    head -c 536870912 /dev/urandom >"$file"
    # Complete: dated back, so that it is finished also where some process
    # cannot be inspected and a recent change counts as writing.
    touch -d '1 hour ago' "$file"
    cat "$file" >/dev/null
    median() { sort -n | sed -n 2p; }
    run3() { for _ in 1 2 3; do local t0 t1; t0=$(date +%s%N); "$@" >/dev/null; t1=$(date +%s%N); echo $(( t1 - t0 )); done | median; }
    local t_cat t_tfs
    t_cat=$(run3 cat "$file")
    t_tfs=$(run3 build/bench/bin/tfs-cat "$file")
    rm -rf "$dir"
    echo "tfs-cat: $(( 536870912 * 1000 / t_tfs )) MB/s, cat: $(( 536870912 * 1000 / t_cat )) MB/s"
    headlines+=("tfs_cat.ratio_vs_cat: $(awk -v a="$t_cat" -v b="$t_tfs" 'BEGIN { printf "%.2f", a / b }')")
}
echo "=== tfs-cat ==="
tfs_cat_bench
bash scripts/build.sh windows || exit 1
# Under Wine every kernel call is a round trip to the Wine server: a few
# microseconds when the server runs on the calling thread's core, 70 to 90
# when it runs on another, so unpinned figures move with the core the server
# lands on. With two cores or more a prefix's server runs on the last core
# and the benchmarks on the others, as on a desktop where the server runs
# beside the application.
cores=$(nproc)
pin=()
[ "$cores" -lt 2 ] || pin=(taskset -c 0-$((cores - 2)))
# pinned_server PREFIX: that prefix's server (created once) on the last core.
pinned_server() {
    [ "$cores" -ge 2 ] || return 0
    ORVEX_WINEPREFIX="$1" sh scripts/wine-run.sh cmd /c exit </dev/null >/dev/null 2>&1
    WINEPREFIX="$1" wineserver -k 2>/dev/null
    WINEPREFIX="$1" timeout 30 wineserver -w 2>/dev/null
    WINEPREFIX="$1" taskset -c $((cores - 1)) wineserver -p 60 </dev/null >/dev/null 2>&1
    # The prefix's services start now, so that none holds a benchmark's output.
    ORVEX_WINEPREFIX="$1" "${pin[@]}" sh scripts/wine-run.sh cmd /c exit </dev/null >/dev/null 2>&1
    echo "Wine server of $1 on core $((cores - 1)), benchmarks on cores 0-$((cores - 2))"
}
prefix="$root/build/windows/wineprefix"
pinned_server "$prefix"
for exe in build/windows/bin/bench_*.exe; do
    run "$(basename "$exe") under Wine" "${pin[@]}" sh scripts/wine-run.sh "$exe" --headline-prefix=wine. \
        --baseline=readfile --repetitions=5
done
WINEPREFIX="$prefix" wineserver -k 2>/dev/null
# The 32-bit build's block cache against plain ReadFile, under 32-bit Wine.
bash scripts/build.sh windows-x86 bench_reader || exit 1
prefix="$root/build/windows-x86/wineprefix"
pinned_server "$prefix"
run "bench_reader.exe (x86) under Wine" "${pin[@]}" sh scripts/wine-run.sh build/windows-x86/bin/bench_reader.exe \
    --headline-prefix=wine.x86. --baseline=readfile --repetitions=5
WINEPREFIX="$prefix" wineserver -k 2>/dev/null
echo "=== headline figures ==="
[ ${#headlines[@]} -gt 0 ] && printf '%s\n' "${headlines[@]}" || echo "(no benchmarks yet)"
