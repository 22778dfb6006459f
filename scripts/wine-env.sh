#!/usr/bin/env bash
# Wine prefix helpers shared by the test and demo scripts. Source this file.
#
# A template prefix is built once per build tree and copied for every run, so each run
# gets a throw-away prefix whose only drives are c: and the fixture letters set here.

export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# make_template DIR: create a fresh prefix in DIR (idempotent: kept when complete).
make_template() {
    local dir=$1
    [ -f "$dir/.tolvane-template" ] && return 0
    rm -rf "$dir"
    mkdir -p "$dir"
    WINEPREFIX="$dir" wineboot -i >/dev/null 2>&1
    WINEPREFIX="$dir" wineserver -w
    # User folders become real folders inside the prefix, never links into the Linux home.
    local users="$dir/drive_c/users"
    local link
    for link in "$users"/*/*; do
        if [ -L "$link" ]; then
            rm -f "$link"
            mkdir -p "$link"
        fi
    done
    # Nothing outside the prefix may be reachable through a drive letter.
    rm -f "$dir/dosdevices/z:"
    cut_links_out_of "$dir"
    touch "$dir/.tolvane-template"
}

# cut_links_out_of DIR: walks the whole prefix DIR for links that resolve outside it (absolute
# ones such as AppData\Roaming\Microsoft\Windows\Templates -> $HOME, and relative ones that
# climb out), so that no scan of c: walks the machine's own files. A link to a folder becomes
# an empty folder; a drive link in dosdevices, or a link to anything else, goes. Serial and
# parallel port links to devices (com1 -> /dev/ttyS0) stay: they lead to no files. Drive
# letters for fixtures are added after this, by make_run_prefix.
cut_links_out_of() {
    local dir link target
    dir=$(realpath "$1")
    find "$dir" -type l -print0 | while IFS= read -r -d '' link; do
        target=$(realpath -m "$link")
        case "$target" in
            "$dir" | "$dir"/*) continue ;;
        esac
        if [ -c "$target" ] || [ -b "$target" ]; then
            continue
        fi
        if [ -d "$link" ] && [ "$(dirname "$link")" != "$dir/dosdevices" ]; then
            rm -f "$link"
            mkdir -p "$link"
        else
            rm -f "$link"
        fi
    done
}

# make_run_prefix TEMPLATE DIR FIXTURES: copy the template to DIR and map the fixture drives:
#   m: fixed      -> FIXTURES/m      n: network -> FIXTURES/n
#   o: optical    -> FIXTURES/o      r: removable -> FIXTURES/r
#   p: fixed      -> FIXTURES/p   (a second fixed drive)
#   q: fixed      -> FIXTURES/m/late-q, missing at first: the drive appears when a test
#                    makes m:\late-q (a drive attached while the cache server runs)
make_run_prefix() {
    local template=$1 dir=$2 fixtures=$3
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    cp -a "$template" "$dir"
    cut_links_out_of "$dir"  # also for templates made before it was cut there
    local letter
    for letter in m n o p r; do
        mkdir -p "$fixtures/$letter"
        ln -sfn "$fixtures/$letter" "$dir/dosdevices/$letter:"
    done
    rm -rf "$fixtures/m/late-q"
    ln -sfn "$fixtures/m/late-q" "$dir/dosdevices/q:"
    cat > "$dir/drive_c/drives.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"m:"="hd"
"n:"="network"
"o:"="cdrom"
"p:"="hd"
"q:"="hd"
"r:"="floppy"
REG
    WINEPREFIX="$dir" wine regedit /S 'C:\drives.reg' >/dev/null 2>&1 || true
    rm -f "$dir/drive_c/drives.reg"
    WINEPREFIX="$dir" wineserver -k 2>/dev/null || true
    WINEPREFIX="$dir" wineserver -w 2>/dev/null || true
}

# stop_prefix DIR: ends the prefix's wineserver (and so its processes), waits until it is gone,
# then deletes DIR.
stop_prefix() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$1"
}

# open_run_prefix TOP BUILD [DIR]: for the demo and the benchmarks. Builds everything (printing
# the build log only when it fails), then makes a throw-away run folder holding a prefix with
# the fixture drives (deleted on exit), DIR (if given) mapped as the fixed drive m:, and starts
# the prefix's persistent wineserver and services. Sets `run` (the run folder) and exports
# WINEPREFIX.
open_run_prefix() {
    local top=$1 build=$2 log
    if ! log=$(bash "$top/scripts/build.sh" 2>&1); then
        echo "$log" >&2
        exit 1
    fi
    make_template "$build/wine-template"
    run=$(mktemp -d /tmp/tolvane-run.XXXXXX)
    export WINEPREFIX="$run/prefix"
    trap 'stop_prefix "$run"' EXIT
    make_run_prefix "$build/wine-template" "$WINEPREFIX" "$run/drives"
    if [ -n "${3:-}" ]; then
        ln -sfn "$3" "$WINEPREFIX/dosdevices/m:"
    fi
    wineserver -p
    wine wineboot >/dev/null 2>&1 </dev/null
}

# Drops Wine's notes about missing 32-bit support and blank lines from a program's errors.
quiet_wine() { grep -v 'wine32\|multiarch\|i386\|working directory\|^$' >&2 || true; }

# install_tolvane BUILD: copies the deliverables into C:\Program Files\Tolvane of the prefix,
# where a setup would put them, and registers them as a setup would. Registered paths must be
# Windows paths that COM and the type-library marshaller can open.
install_tolvane() {
    local build=$1
    local install="$WINEPREFIX/drive_c/Program Files/Tolvane"
    mkdir -p "$install"
    cp "$build/cache/TVN Cache.exe" "$build/columns/TVN.dll" "$install/"
    wine 'C:\Program Files\Tolvane\TVN Cache.exe' /RegServer 2> >(quiet_wine)
    wine regsvr32 /s 'C:\Program Files\Tolvane\TVN.dll' 2> >(quiet_wine)
    install_toolbar "$build"
}

# install_toolbar BUILD: the toolbar band TVN Bar.dll beside the other deliverables,
# registered, so that it is listed among the toolbars (and details_view --window hosts it).
install_toolbar() {
    local build=$1
    cp "$build/bar/TVN Bar.dll" "$WINEPREFIX/drive_c/Program Files/Tolvane/"
    wine regsvr32 /s 'C:\Program Files\Tolvane\TVN Bar.dll' 2> >(quiet_wine)
}
