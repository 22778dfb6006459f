#!/usr/bin/env bash
# Builds the benchmark tree in a throw-away Wine prefix and runs the cache benchmark.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
source "$top/scripts/wine-env.sh"
open_run_prefix "$top" "$build"

tree="$run/drives/m/bench"
change=$(python3 "$top/bench/make-tree.py" "$tree" 'm:\bench')
# du reference: median of 5 runs on the warm tree, in milliseconds.
du -sb "$tree" >/dev/null
du_ms=$(for i in 1 2 3 4 5; do
    s=$(date +%s%N); du -sb "$tree" >/dev/null; e=$(date +%s%N); echo $(( (e - s) / 1000 ))
done | sort -n | sed -n 3p | awk '{printf "%.3f", $1 / 1000}')
deep=$(python3 "$top/bench/make-deep-tree.py" "$run/drives/m/deep" 'm:\deep')
names16=$(python3 "$top/bench/make-name16-tree.py" "$run/drives/m/names16" 'm:\names16')
wine "$build/bench/cache_bench.exe" 'm:\bench' "$du_ms" "$change" "$deep" "$names16"
