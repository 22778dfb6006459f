#!/usr/bin/env bash
# Registers the cache server in a throw-away Wine prefix and measures calls into it.
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

python3 "$top/bench/make-tree.py" "$run/drives/m/bench" 'm:\bench' >/dev/null
# Installed inside the prefix, as a user would have it: the registered paths must be
# Windows paths that the server and the type-library marshaller can open.
install="$WINEPREFIX/drive_c/Program Files/Tolvane"
mkdir -p "$install"
cp "$build/cache/TVN Cache.exe" "$install/"
wine 'C:\Program Files\Tolvane\TVN Cache.exe' /RegServer
# Output goes through a file: the server started by COM would hold a pipe open.
wine "$build/bench/server_bench.exe" 'm:\bench' 'm:\bench\dir-3' >"$run/out.txt" 2>"$run/err.txt" \
    || { grep -v '^wine\|wine32\|multiarch\|i386\|^$' "$run/err.txt" >&2; exit 1; }
cat "$run/out.txt"
