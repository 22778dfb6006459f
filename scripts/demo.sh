#!/usr/bin/env bash
# The main job: builds everything, installs and registers TVN Cache.exe, TVN.dll and
# TVN Bar.dll in a throw-away Wine prefix, and prints the folder's Details view as Explorer
# would show it with the size columns, folder sizes coming from the cache server.
#   bash scripts/demo.sh                 a sample tree made for the demo
#   bash scripts/demo.sh DIR             a folder of this machine, mapped as the fixed drive m:
#   bash scripts/demo.sh --window        the sample in the Details-view window with the toolbar
#                                        band above it, on this machine's display, until closed
#   bash scripts/demo.sh --screenshots   the sample in the Details-view window with the toolbar
#                                        band above it, under a virtual display: saves
#                                        docs/screenshots/toolbar.png (the band in the window),
#                                        toolbar-menu.png (its menu, "&Digit grouping" open)
#                                        and toolbar-mbytes.png (after choosing "&MBytes")
#   bash scripts/demo.sh --properties-screenshots
#                                        the properties program under a virtual display:
#                                        saves docs/screenshots/properties.png (the dialog),
#                                        properties-menu.png (its Menu button's popup) and
#                                        about.png (the about box)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}

screenshots=
window=
if [ "${1:-}" = "--properties-screenshots" ]; then
    if [ -z "${TOLVANE_SCREENSHOT_DISPLAY:-}" ]; then
        bash "$top/scripts/setup-deps.sh"
        exec env TOLVANE_SCREENSHOT_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" \
            bash "$0" --properties-screenshots
    fi
    source "$top/scripts/wine-env.sh"
    open_run_prefix "$top" "$build"
    install="$WINEPREFIX/drive_c/Program Files/Tolvane"
    mkdir -p "$install"
    cp "$build/properties/TVN Properties.exe" "$build/properties/Tolvane.chm" "$install/"
    # No window manager runs under the virtual display: Wine draws the title bars itself.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
        cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    drive() { wine "$build/tests/properties/drive_properties.exe" "$@" 2> >(quiet_wine) | tr -d '\r'; }
    # shoot NAME GEOMETRY: the screen, cropped, into docs/screenshots/NAME.png.
    shoot() {
        import -window root "$run/$1.png"
        convert "$run/$1.png" -crop "$2" +repage "$top/docs/screenshots/$1.png"
        echo "docs/screenshots/$1.png"
    }
    wine 'C:\Program Files\Tolvane\TVN Properties.exe' >"$run/properties.log" 2>&1 </dev/null &
    program=$!
    dialog=$(drive wait)
    sleep 1  # the first paint
    shoot properties "$dialog"
    # The popup opens below the Menu button: the picture takes the dialog and what hangs below.
    drive menu >/dev/null
    sleep 0.5
    width=$(echo "$dialog" | cut -dx -f1)
    height=$(echo "$dialog" | cut -dx -f2 | cut -d+ -f1)
    place=$(echo "$dialog" | cut -d+ -f2-)
    shoot properties-menu "${width}x$((height + 60))+$place"
    drive escape
    about=$(drive about)
    sleep 1
    shoot about "$about"
    drive close
    wait "$program" || true
    exit 0
fi
if [ "${1:-}" = "--window" ]; then
    window=1
    shift
elif [ "${1:-}" = "--screenshots" ]; then
    screenshots=1
    shift
    if [ -z "${TOLVANE_SCREENSHOT_DISPLAY:-}" ]; then
        bash "$top/scripts/setup-deps.sh"
        exec env TOLVANE_SCREENSHOT_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" \
            bash "$0" --screenshots "$@"
    fi
fi
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

if [ -n "$window" ]; then
    wine "$build/tools/details_view.exe" --window "$folder" 2> >(quiet_wine)
    exit 0
fi
if [ -z "$screenshots" ]; then
    wine "$build/tools/details_view.exe" "$folder" 2> >(quiet_wine)
    exit 0
fi

# shoot NAME GEOMETRY: the screen, cropped, into docs/screenshots/NAME.png.
shoot() {
    import -window root "$run/$1.png"
    convert "$run/$1.png" -crop "$2" +repage "$top/docs/screenshots/$1.png"
    echo "docs/screenshots/$1.png"
}
press_band() { wine "$build/tools/press_band.exe" "$@" 2> >(quiet_wine); }

# No window manager runs under the virtual display: Wine draws the title bars itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
wine "$build/tools/details_view.exe" --window 300000 "$folder" >"$run/view.log" 2>&1 </dev/null &
view=$!
place=$(press_band wait | tr -d '\r')
left=$(echo "$place" | cut -d+ -f2)
top_edge=$(echo "$place" | cut -d+ -f3)
sleep 1  # the first paint of the window
shoot toolbar "1000x200+$left+$top_edge"
# The button pressed: the menu drops down; "&Digit grouping" is selected and opened.
press_band open up up up right
sleep 0.5
shoot toolbar-menu "420x400+$left+$top_edge"
press_band keys escape escape
# "&MBytes" by its mnemonic: stored, announced, and the view asks the columns again.
press_band open char:m
sleep 1
shoot toolbar-mbytes "1000x200+$left+$top_edge"
press_band close
wait "$view"
