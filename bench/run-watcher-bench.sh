#!/usr/bin/env bash
# Runs the change watcher benchmark under Wine in a throw-away prefix made like the tests' one.
# The ~200,000-entry tree is made from the Linux side (fast; listing speed does not depend on
# who made it); every change the benchmark measures is made inside Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
bash "$top/scripts/setup-deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" >/dev/null
fi
cmake --build "$build" --target watcher_bench >/dev/null
source "$top/scripts/wine-env.sh"
make_template "$build/wine-template"
run=$(mktemp -d /tmp/tolvane-wbench.XXXXXX)
export WINEPREFIX="$run/prefix"
trap 'stop_prefix "$run"' EXIT
make_run_prefix "$build/wine-template" "$WINEPREFIX" "$run/drives"

# 10 x 10 x 10 x 10 folders (11,111 with the root), 17 files in each, and a chain of 20
# folders below the root: about 200,000 entries.
python3 - "$run/drives/m/wbench" <<'PY'
import os, sys
root = sys.argv[1]
def fill(path, level):
    os.makedirs(path, exist_ok=True)
    for f in range(17):
        with open(os.path.join(path, "file-%02d.dat" % f), "wb") as out:
            out.truncate(100 + 13 * f + level)
    if level < 4:
        for d in range(10):
            fill(os.path.join(path, "dir-%d" % d), level + 1)
fill(root, 0)
chain = root
for depth in range(1, 21):
    chain = os.path.join(chain, "chain-%02d" % depth)
    os.makedirs(chain)
    with open(os.path.join(chain, "f.dat"), "wb") as out:
        out.truncate(depth)
PY
deep='m:\wbench'
for depth in $(seq -w 1 20); do deep="$deep\\chain-$depth"; done

wineserver -p
wine wineboot >/dev/null 2>&1 </dev/null
wine "$build/bench/watcher_bench.exe" 'm:\wbench' "$deep"
