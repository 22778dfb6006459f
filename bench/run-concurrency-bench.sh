#!/usr/bin/env bash
# Registers the cache server in a throw-away Wine prefix and measures how its clients wait for
# each other: a clean folder asked while another client scans, and two scans at once.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
source "$top/scripts/wine-env.sh"
open_run_prefix "$top" "$build"
install_tolvane "$build"

python3 "$top/bench/make-tree.py" "$run/drives/m/bench" 'm:\bench' >/dev/null
python3 "$top/bench/make-tree.py" "$run/drives/m/bench2" 'm:\bench2' >/dev/null
mkdir -p "$run/drives/m/clean/sub"
head -c 4096 /dev/zero >"$run/drives/m/clean/a.bin"
head -c 512 /dev/zero >"$run/drives/m/clean/sub/b.bin"
# The program starts copies of itself as clients: it runs from a Windows path, since one started
# from a Linux path knows itself only by a path that CreateProcessW cannot start.
cp "$build/bench/concurrency_bench.exe" "$WINEPREFIX/drive_c/"
# Output goes through a file: the server started by COM would hold a pipe open.
wine 'C:\concurrency_bench.exe' 'm:\clean' 'm:\bench' 'm:\bench2' >"$run/out.txt" \
    2>"$run/err.txt" || { grep -v '^wine\|wine32\|multiarch\|i386\|^$' "$run/err.txt" >&2; exit 1; }
cat "$run/out.txt"
