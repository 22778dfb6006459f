#!/usr/bin/env bash
# Takes docs/screenshots/controls.png: the dialog-control showcase (a coloured group and two
# links, the second one hot) in a throw-away Wine prefix on a virtual display, with Wine
# drawing the title bar itself. The prefix's services start under the display (a desktop
# started without one would keep every window off it), so open_run_prefix does not fit here.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
out=${1:-$top/docs/screenshots/controls.png}
bash "$top/scripts/build.sh" >/dev/null
source "$top/scripts/wine-env.sh"
make_template "$build/wine-template"
run=$(mktemp -d /tmp/tolvane-shot.XXXXXX)
export WINEPREFIX="$run/prefix"
trap 'stop_prefix "$run"' EXIT
make_run_prefix "$build/wine-template" "$WINEPREFIX" "$run/drives"
cp "$build/tests/properties/controls_showcase.exe" "$WINEPREFIX/drive_c/"
mkdir -p "$(dirname "$out")"

xvfb-run -a -s "-screen 0 640x480x24" bash -c '
    set -e
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
    wine wineboot >/dev/null 2>&1 </dev/null
    ready="$WINEPREFIX/drive_c/ready.txt"
    wine "C:\\controls_showcase.exe" "C:\\ready.txt" 20 >/dev/null 2>&1 </dev/null &
    for _ in $(seq 200); do [ -s "$ready" ] && break; sleep 0.1; done
    [ -s "$ready" ] || { echo "the showcase did not come up" >&2; exit 1; }
    read -r left top right bottom < "$ready"
    sleep 1
    import -window root -crop "$((right - left + 16))x$((bottom - top + 16))+$((left - 8))+$((top - 8))" +repage -strip PNG24:"$1"
    ' shot "$out"
echo "wrote $out"
