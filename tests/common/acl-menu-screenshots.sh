#!/usr/bin/env bash
# Shows the toolbar's settings menu (its "&Digit grouping" submenu open) and the properties
# program's Help menu for real under a virtual display, and saves screenshots cropped to the
# menus into docs/screenshots/. Runs in a throw-away Wine prefix like the tests.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
if [ -z "${TOLVANE_SCREENSHOT_DISPLAY:-}" ]; then
    bash "$top/scripts/setup-deps.sh"
    exec env TOLVANE_SCREENSHOT_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
source "$top/scripts/wine-env.sh"
open_run_prefix "$top" "$build"

for variant in toolbar properties; do
    ready="$WINEPREFIX/drive_c/ready-$variant.txt"
    wine "$build/tests/common/acl_menu_host.exe" "$variant" "C:\\ready-$variant.txt" \
        >"$run/$variant.log" 2>&1 </dev/null &
    host=$!
    # The host writes the menus' screen rectangle once they are open and painted.
    for _ in $(seq 600); do
        [ -s "$ready" ] && break
        sleep 0.1
    done
    [ -s "$ready" ] || { echo "the $variant menu did not open" >&2; exit 1; }
    import -window root "$run/$variant.png"
    convert "$run/$variant.png" -crop "$(tr -d '\r\n' <"$ready")" +repage \
        "$top/docs/screenshots/acl-menu-$variant.png"
    rm -f "$ready"
    wait "$host"
    echo "docs/screenshots/acl-menu-$variant.png"
done
