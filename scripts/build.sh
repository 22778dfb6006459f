#!/usr/bin/env bash
# Configures and builds every Windows binary into build/ (or $TOLVANE_BUILD).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
bash "$top/scripts/setup-deps.sh"
# CI (CI=true) builds with every warning as an error.
werror=OFF
[ -n "${CI:-}" ] && werror=ON
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" -DTVN_WERROR=$werror >/dev/null
fi
cmake --build "$build" -- -j"$(nproc)"
