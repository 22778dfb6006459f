#!/usr/bin/env bash
# Builds the benchmark tree in a throw-away Wine prefix and runs the cache benchmark.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
if ! log=$(bash "$top/scripts/build.sh" 2>&1); then
    echo "$log" >&2
    exit 1
fi
source "$top/scripts/wine-env.sh"
make_template "$build/wine-template"
run=$(mktemp -d /tmp/tolvane-bench.XXXXXX)
export WINEPREFIX="$run/prefix"
trap 'stop_prefix "$run"' EXIT
make_run_prefix "$build/wine-template" "$WINEPREFIX" "$run/drives"
wineserver -p
wine wineboot >/dev/null 2>&1 </dev/null

tree="$run/drives/m/bench"
change=$(python3 "$top/bench/make-tree.py" "$tree" 'm:\bench')
# du reference: median of 5 runs on the warm tree, in milliseconds.
du -sb "$tree" >/dev/null
du_ms=$(for i in 1 2 3 4 5; do
    s=$(date +%s%N); du -sb "$tree" >/dev/null; e=$(date +%s%N); echo $(( (e - s) / 1000 ))
done | sort -n | sed -n 3p | awk '{printf "%.3f", $1 / 1000}')
wine "$build/bench/cache_bench.exe" 'm:\bench' "$du_ms" "$change"
