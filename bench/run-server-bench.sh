#!/usr/bin/env bash
# Registers the cache server in a throw-away Wine prefix and measures calls into it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
source "$top/scripts/wine-env.sh"
open_run_prefix "$top" "$build"
install_tolvane "$build"

python3 "$top/bench/make-tree.py" "$run/drives/m/bench" 'm:\bench' >/dev/null
deep=$(python3 "$top/bench/make-deep-tree.py" "$run/drives/m/deep" 'm:\deep')
names16=$(python3 "$top/bench/make-name16-tree.py" "$run/drives/m/names16" 'm:\names16')
# Output goes through a file: the server started by COM would hold a pipe open.
wine "$build/bench/server_bench.exe" 'm:\bench' 'm:\bench\dir-3' "$deep" "$names16" \
    >"$run/out.txt" \
    2>"$run/err.txt" || { grep -v '^wine\|wine32\|multiarch\|i386\|^$' "$run/err.txt" >&2; exit 1; }
cat "$run/out.txt"
