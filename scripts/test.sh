#!/bin/bash
# Every test tier: native unit tests (g++), ASan+UBSan and bounded fuzz runs
# (clang), TSan (clang), and the Windows builds' tests under Wine, x86_64 and
# then x86 (whose integration test also uses the x86_64 build). Prints each
# runner's summary; exits non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh test || exit 1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

failed=()
summary=()
run_tier() {
    local tree=$1 title=$2
    shift 2
    echo "=== $title ($tree) ==="
    if ! bash scripts/build.sh "$tree" "$@"; then
        failed+=("$tree: build")
        return
    fi
    local log="build/$tree/ctest.log"
    (cd "build/$tree" && ctest -V --timeout 1800) >"$log" 2>&1
    local rc=$?
    # The runners' summaries: GoogleTest's totals and CTest's line.
    grep -E '^[0-9]+: \[(==========|  PASSED  |  FAILED  |  SKIPPED )\]|^[0-9]+: (dll image|Done [0-9]+ runs|\[ growing  \]|wine playback|wine registry|wine page dialog|wine prefix|tfs-cat|demo: |  (recording|recorded|bytes delivered|frames shown|audio played|stalls|the end|largest lag|wait margin|after the first byte): |  the wait margin )|tests passed, ' "$log" |
        sed 's/^[0-9]*: /  /'
    summary+=("$title: $(grep -E 'tests passed, ' "$log" | tail -n 1)")
    if [ $rc -ne 0 ]; then
        failed+=("$tree")
        echo "--- failures of $tree ---"
        (cd "build/$tree" && ctest --rerun-failed --output-on-failure --timeout 1800) 2>&1 | tail -n 200
    fi
}

start=$(date +%s)
run_tier native "native unit tests (g++)"
run_tier asan "ASan+UBSan unit tests and fuzz runs (clang)"
run_tier tsan "TSan unit tests (clang)"
run_tier windows "Windows build under Wine"
# Only what its tests run: the unit test programs of every layer (with the
# DLL and the helpers) and the player.
run_tier windows-x86 "Windows x86 build under Wine" unit_compat unit_framework unit_reader unit_filter unit_tools \
    player

echo "=== summary ($(( $(date +%s) - start )) s) ==="
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "all tiers passed"
