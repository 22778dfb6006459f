#!/usr/bin/env bash
# Runs the change watcher benchmark under Wine in a throw-away prefix made like the tests' one.
# The ~200,000-entry tree is made from the Linux side (fast; listing speed does not depend on
# who made it); every change the benchmark measures is made inside Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
source "$top/scripts/wine-env.sh"
open_run_prefix "$top" "$build"

# About 200,000 entries and a chain of folders: the folder 20 levels down is printed.
deep=$(python3 "$top/bench/make-tree.py" "$run/drives/m/wbench" 'm:\wbench')
wine "$build/bench/watcher_bench.exe" 'm:\wbench' "$deep"
