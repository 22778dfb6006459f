#!/usr/bin/env bash
# Takes the screenshots of setup and the uninstaller in a throw-away Wine prefix on a virtual
# display, with Wine drawing the title bars: docs/screenshots/setup-components.png (the first
# page with the "Start cache with Windows" component), setup-folder.png (the install folder),
# setup-finish.png (the last page, as a Windows later than Server 2003 shows it),
# uninstall-settings.png (the "Remove my settings" box) and setup-failed.png (the message of a
# setup whose TVN Bar.dll is damaged, as the tests make it).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
shots=${1:-$top/docs/screenshots}
bash "$top/scripts/build.sh" >/dev/null
source "$top/scripts/wine-env.sh"
make_template "$build/wine-template"
run=$(mktemp -d /tmp/tolvane-setup-shot.XXXXXX)
export WINEPREFIX="$run/prefix"
trap 'stop_prefix "$run"' EXIT
cp -a "$build/wine-template" "$WINEPREFIX"
cut_links_out_of "$WINEPREFIX"
mkdir -p "$WINEPREFIX/drive_c/shot" "$shots"
cp "$build/installer/Tolvane-Setup-"*"-x64.exe" "$WINEPREFIX/drive_c/shot/setup.exe"
cp "$build/tests/installer/window_probe.exe" "$WINEPREFIX/drive_c/shot/"
head -c 4096 "$build/bar/TVN Bar.dll" >"$run/TVN Bar.dll"
makensis -V1 -NOCD "-DPAYLOAD=$build/installer/payload.nsh" "-DTVN_BAR_DLL=$run/TVN Bar.dll" \
    "-DTVN_OUTFILE=$WINEPREFIX/drive_c/shot/damaged-setup.exe" "$top/installer/tolvane.nsi"
version=$(sed -n 's/^#define TVN_VERSION_TEXT "\(.*\)"/\1/p' "$top/resources/properties/version.h")

xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    set -e
    version=$1 shots=$2
    cd "$WINEPREFIX/drive_c"
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
    # The symbol font of the title-bar buttons Wine draws.
    if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
        cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    wineserver -w
    wine wineboot >/dev/null 2>&1 </dev/null
    ready="$WINEPREFIX/drive_c/shot/ready.txt"
    # probe TITLE [BUTTON]: waits for the window (pressing BUTTON), then sets its rectangle.
    probe() {
        rm -f "$ready"
        wine "C:\\shot\\window_probe.exe" "$1" "C:\\shot\\ready.txt" ${2:-} >/dev/null 2>&1 </dev/null
        read -r left top right bottom < <(tr -d "\r" < "$ready")
    }
    shoot() {
        sleep 1
        import -window root -crop "$((right - left + 16))x$((bottom - top + 16))+$((left - 8))+$((top - 8))" +repage -strip PNG24:"$1"
    }
    wine "C:\\shot\\setup.exe" >/dev/null 2>&1 </dev/null &
    probe "Tolvane $version Setup"
    shoot "$shots/setup-components.png"
    probe "Tolvane $version Setup" 1
    shoot "$shots/setup-folder.png"
    probe "Tolvane $version Setup" 1
    for i in $(seq 60); do
        grep -q "Click Finish" "$ready" && break
        sleep 1
        probe "Tolvane $version Setup"
    done
    shoot "$shots/setup-finish.png"
    wineserver -k || true
    wineserver -w || true
    wine wineboot >/dev/null 2>&1 </dev/null
    wine "C:\\shot\\setup.exe" /S >/dev/null 2>&1 </dev/null
    wine "C:\\Program Files\\Tolvane\\Uninstall.exe" >/dev/null 2>&1 </dev/null &
    probe "Tolvane $version Uninstall" 1
    shoot "$shots/uninstall-settings.png"
    wineserver -k || true
    wineserver -w || true
    wine wineboot >/dev/null 2>&1 </dev/null
    wine "C:\\shot\\damaged-setup.exe" >/dev/null 2>&1 </dev/null &
    probe "Tolvane $version Setup" 1
    probe "Tolvane $version Setup" 1
    sleep 12
    probe "Tolvane $version Setup"
    shoot "$shots/setup-failed.png"
    wineserver -k || true
    ' shot "$version" "$shots"
echo "wrote $shots/setup-components.png setup-folder.png setup-finish.png uninstall-settings.png setup-failed.png"
