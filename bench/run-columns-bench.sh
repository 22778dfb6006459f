#!/usr/bin/env bash
# Installs and registers TVN Cache.exe and TVN.dll in a throw-away Wine prefix, builds a small
# folder tree on the fixed drive m: and runs the column provider benchmark on it.
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
trap 'wineserver -k 2>/dev/null || true; rm -rf "$run"' EXIT
make_run_prefix "$build/wine-template" "$WINEPREFIX" "$run/drives"
wineserver -p
wine wineboot >/dev/null 2>&1 </dev/null

install="$WINEPREFIX/drive_c/Program Files/Tolvane"
mkdir -p "$install"
cp "$build/columns/TVN.dll" "$install/"
if [ -f "$build/cache/TVN Cache.exe" ]; then
    cp "$build/cache/TVN Cache.exe" "$install/"
    wine 'C:\Program Files\Tolvane\TVN Cache.exe' /RegServer 2>/dev/null
fi
wine regsvr32 /s 'C:\Program Files\Tolvane\TVN.dll' 2>/dev/null

tree="$run/drives/m/bench"
for a in 1 2 3 4 5 6 7 8 9 10; do
    for b in 1 2 3 4 5 6 7 8 9 10; do
        mkdir -p "$tree/d$a/e$b"
        for f in 1 2 3 4 5; do truncate -s $((a * b * f * 1000)) "$tree/d$a/e$b/f$f"; done
    done
done
truncate -s 123456 "$tree/top.bin"
wine "$build/bench/columns_bench.exe" 'm:\bench' 2> >(grep -v 'wine32\|multiarch\|i386\|working directory\|^$' >&2 || true)
