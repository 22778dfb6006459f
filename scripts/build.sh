#!/usr/bin/env bash
# Configures and builds every Windows binary into build/ (or $TOLVANE_BUILD).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
bash "$top/scripts/setup-deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" >/dev/null
fi
cmake --build "$build" -- -j"$(nproc)"
