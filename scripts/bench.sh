#!/bin/bash
# The benchmarks: every bench_* program of the release tree; ends with one
# line per headline figure ("name: value").
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh bench || exit 1
bash scripts/build.sh bench || exit 1
headlines=()
shopt -s nullglob
for exe in build/bench/bin/bench_*; do
    [ -x "$exe" ] || continue
    echo "=== $(basename "$exe") ==="
    out=$("$exe" 2>&1)
    rc=$?
    printf '%s\n' "$out"
    [ $rc -eq 0 ] || { echo "$(basename "$exe") failed ($rc)"; exit 1; }
    while IFS= read -r line; do headlines+=("$line"); done < <(printf '%s\n' "$out" | grep -E '^[a-z0-9_]+(\.[a-z0-9_]+)+: ')
done
echo "=== headline figures ==="
[ ${#headlines[@]} -gt 0 ] && printf '%s\n' "${headlines[@]}" || echo "(no benchmarks yet)"
