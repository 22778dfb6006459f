#!/usr/bin/env bash
# The main job: builds everything, installs and registers TVN Cache.exe and TVN.dll in a
# throw-away Wine prefix, and prints the folder's Details view as Explorer would show it with
# the size columns, folder sizes coming from the cache server.
#   bash scripts/demo.sh            a sample tree made for the demo
#   bash scripts/demo.sh DIR        a folder of this machine, mapped as the fixed drive m:
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
if ! log=$(bash "$top/scripts/build.sh" 2>&1); then
    echo "$log" >&2
    exit 1
fi
source "$top/scripts/wine-env.sh"
make_template "$build/wine-template"
run=$(mktemp -d /tmp/tolvane-demo.XXXXXX)
export WINEPREFIX="$run/prefix"
trap 'stop_prefix "$run"' EXIT
make_run_prefix "$build/wine-template" "$WINEPREFIX" "$run/drives"

if [ $# -ge 1 ]; then
    target=$(cd "$1" && pwd)
    ln -sfn "$target" "$WINEPREFIX/dosdevices/m:"
    folder='m:\'
else
    sample="$run/drives/m/Sample"
    mkdir -p "$sample/Photos/2025" "$sample/Photos/2026" "$sample/Music" "$sample/Empty" \
             "$sample/Projects/tolvane/src"
    truncate -s 3500000 "$sample/Photos/2025/beach.jpg"
    truncate -s 4200000 "$sample/Photos/2026/snow.jpg"
    truncate -s 1234567 "$sample/Music/song.flac"
    truncate -s $((4 * 1024 * 1024 * 1024)) "$sample/Projects/disk-image.iso"
    truncate -s 2048 "$sample/Projects/tolvane/src/main.cpp"
    truncate -s 512 "$sample/notes.txt"
    folder='m:\Sample'
fi
wineserver -p
wine wineboot >/dev/null 2>&1 </dev/null
quiet() { grep -v 'wine32\|multiarch\|i386\|working directory\|^$' >&2 || true; }

# Installed where a setup would put them, then registered as a setup would.
install="$WINEPREFIX/drive_c/Program Files/Tolvane"
mkdir -p "$install"
cp "$build/columns/TVN.dll" "$install/"
if [ -f "$build/cache/TVN Cache.exe" ]; then
    cp "$build/cache/TVN Cache.exe" "$install/"
    wine 'C:\Program Files\Tolvane\TVN Cache.exe' /RegServer 2> >(quiet)
fi
wine regsvr32 /s 'C:\Program Files\Tolvane\TVN.dll' 2> >(quiet)
wine "$build/tools/details_view.exe" "$folder" 2> >(quiet)
