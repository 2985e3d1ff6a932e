#!/bin/bash
# Configures (once) and builds one build tree.
# Usage: scripts/build.sh native|asan|tsan|windows|windows-x86|bench [targets...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree=$1; shift
dir="$root/build/$tree"
case "$tree" in
    native)  args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    bench)   args=(-DCMAKE_BUILD_TYPE=Release) ;;
    asan)    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
                   -DORVEX_SANITIZE=address -DORVEX_FUZZ=ON -DORVEX_BENCH=OFF) ;;
    tsan)    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
                   -DORVEX_SANITIZE=thread -DORVEX_BENCH=OFF) ;;
    windows) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake") ;;
    windows-x86) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake") ;;
    *) echo "unknown build tree: $tree" >&2; exit 2 ;;
esac
mkdir -p "$root/build"
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -G "Unix Makefiles" "${args[@]}" >"$dir.configure.log" 2>&1 || {
        cat "$dir.configure.log"; exit 1; }
fi
jobs=$(nproc)
# The compiler's own progress lines are dropped; its diagnostics stay. The
# result is the build's, not the filter's.
set +e +o pipefail
cmake --build "$dir" -j"$jobs" ${1:+--target "$@"} 2>&1 | grep -vE '^\[ *[0-9]+%\]|^g?make\[|^Consolidate|^Scanning|^-- '
status=${PIPESTATUS[0]}
exit "$status"
