#!/usr/bin/env bash
# The main job: builds everything, installs and registers TVN Cache.exe and TVN.dll in a
# throw-away Wine prefix, and prints the folder's Details view as Explorer would show it with
# the size columns, folder sizes coming from the cache server.
#   bash scripts/demo.sh            a sample tree made for the demo
#   bash scripts/demo.sh DIR        a folder of this machine, mapped as the fixed drive m:
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
source "$top/scripts/wine-env.sh"

if [ $# -ge 1 ]; then
    open_run_prefix "$top" "$build" "$(cd "$1" && pwd)"
    folder='m:\'
else
    open_run_prefix "$top" "$build"
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

install_tolvane "$build"
wine "$build/tools/details_view.exe" "$folder" 2> >(quiet_wine)
