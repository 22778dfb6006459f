#!/usr/bin/env bash
# Installs and registers TVN Cache.exe and TVN.dll in a throw-away Wine prefix, builds a small
# folder tree on the fixed drive m: and runs the column provider benchmark on it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
source "$top/scripts/wine-env.sh"
open_run_prefix "$top" "$build"
install_tolvane "$build"

tree="$run/drives/m/bench"
for a in 1 2 3 4 5 6 7 8 9 10; do
    for b in 1 2 3 4 5 6 7 8 9 10; do
        mkdir -p "$tree/d$a/e$b"
        for f in 1 2 3 4 5; do truncate -s $((a * b * f * 1000)) "$tree/d$a/e$b/f$f"; done
    done
done
truncate -s 123456 "$tree/top.bin"
wine "$build/bench/columns_bench.exe" 'm:\bench' 2> >(quiet_wine)
