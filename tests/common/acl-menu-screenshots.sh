#!/usr/bin/env bash
# Shows the toolbar's settings menu (its "&Digit grouping" submenu open) and the properties
# program's Help menu for real under a virtual display, and saves screenshots cropped to the
# menus into docs/screenshots/. Runs in a throw-away Wine prefix like the tests.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
bash "$top/scripts/build.sh"
source "$top/scripts/wine-env.sh"

make_template "$build/wine-template"
run=$(mktemp -d /tmp/tolvane-shots.XXXXXX)
export WINEPREFIX="$run/prefix"
trap 'stop_prefix "$run"' EXIT
make_run_prefix "$build/wine-template" "$WINEPREFIX" "$run/drives"
wineserver -p
export TOP=$top BUILD=$build RUN=$run
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    set -euo pipefail
    wine wineboot >/dev/null 2>&1 </dev/null
    for variant in toolbar properties; do
        ready="$WINEPREFIX/drive_c/ready-$variant.txt"
        rm -f "$ready"
        wine "$BUILD/tests/common/acl_menu_host.exe" "$variant" "C:\\ready-$variant.txt" \
            >"$RUN/$variant.log" 2>&1 </dev/null &
        host=$!
        for _ in $(seq 600); do
            [ -s "$ready" ] && break
            sleep 0.1
        done
        [ -s "$ready" ] || { echo "the $variant menu did not open" >&2; exit 1; }
        import -window root "$RUN/$variant.png"
        convert "$RUN/$variant.png" -crop "$(tr -d "\r\n" <"$ready")" +repage \
            "$TOP/docs/screenshots/acl-menu-$variant.png"
        rm -f "$ready"
        wait "$host"
        echo "docs/screenshots/acl-menu-$variant.png"
    done'
