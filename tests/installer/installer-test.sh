#!/usr/bin/env bash
# Setup and uninstaller under Wine, each scenario in a fresh prefix of its own (copied from the
# build's template), so that nothing the other tests registered or started can hide a fault.
#
#   installer-test.sh BUILD SCENARIO
#
# lifecycle  silent install: files, every registration entry, the Add/Remove and Run entries,
#            the shortcut, and the Details-view stand-in showing folder sizes from the installed
#            copy; an install over it keeps the user's settings and leaves one set of entries;
#            a silent uninstall while the cache server runs ends the server and removes
#            everything but the settings; uninstalling with /REMOVESETTINGS removes those too.
# held       while a Details view holds both libraries: an install over it moves the held
#            copies aside for deletion at restart; the uninstaller removes everything else
#            and leaves the held libraries (and the folder) to the next restart, which
#            removes them.
# failing    a setup made from the same script with a damaged TVN Bar.dll stops with an error
#            exit code after registering the other two servers, and leaves nothing behind; into
#            a folder that already holds files, it deletes only the files it copied.
# finish     an interactive install, clicked through: its finish page says that Explorer shows
#            no column handlers or toolbars on a Windows that reports 6.1 (Windows 7), and
#            says nothing of it on one that reports 5.2 (Windows Server 2003).
set -uo pipefail
build=$(cd "$1" && pwd)
scenario=$2
top=$(cd "$(dirname "$0")/../.." && pwd)
source "$top/scripts/wine-env.sh"

setup_name=$(cd "$build/installer" && ls Tolvane-Setup-*-x64.exe | head -n 1)
[ -n "$setup_name" ] || { echo "no setup program in $build/installer"; exit 1; }

make_template "$build/wine-template"
[ -d "$build/wine-template/drive_c" ] || { echo "no template prefix in $build/wine-template"; exit 1; }
run=$(mktemp -d /tmp/tolvane-setup-test.XXXXXX)
export WINEPREFIX="$run/prefix"
# This prefix's own wineserver is not persistent: `wineserver -w` then waits until every
# program of the prefix has ended (the uninstaller runs on as a copy of itself).
trap 'stop_prefix "$run"' EXIT
cp -a "$build/wine-template" "$WINEPREFIX"
cut_links_out_of "$WINEPREFIX"
wine wineboot >/dev/null 2>&1 </dev/null

tools="$WINEPREFIX/drive_c/tvn-test"
mkdir -p "$tools"
cp "$build/installer/$setup_name" "$tools/setup.exe"
title="Tolvane ${setup_name#Tolvane-Setup-}"
title="${title%-x64.exe} Setup"
cp "$build/tests/installer/installer_checks.exe" "$build/tools/details_view.exe" \
    "$build/tests/installer/window_probe.exe" "$tools/"

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# run_wine LOG PROGRAM ARGS...: runs a Windows program, its output into a file (a server it
# starts inherits the handles); prints the output when the exit code is not 0. Returns it.
run_wine() {
    local log=$run/$1
    shift
    (cd "$WINEPREFIX/drive_c" && wine "$@" >"$log" 2>&1 </dev/null)
    local rc=$?
    [ $rc -eq 0 ] || grep -av 'wine32\|multiarch\|i386\|dpkg --add' "$log" | tail -n 40
    return $rc
}

# check STATE...: the state checks, as gtest filters (Installed, Uninstalled, ...).
# A state with a dot names one case; one with a leading "-" is left out.
check() {
    local filter="" negative="" state
    for state in "$@"; do
        case $state in
            -*) negative+="${state#-}:" ;;
            *.*) filter+="$state:" ;;
            *) filter+="$state.*:" ;;
        esac
    done
    [ -z "$negative" ] || filter="${filter%:}-${negative}"
    if ! run_wine checks.log 'C:\tvn-test\installer_checks.exe' --gtest_brief=1 \
            "--gtest_filter=${filter%:}"; then
        fail "state $* after: $step"
    else
        echo "ok: $* after: $step"
    fi
}

# Waits until every program of the prefix has ended (the uninstaller's copy of itself, the
# server it ends), with a deadline.
wait_prefix_idle() {
    timeout 120 wineserver -w || fail "programs still running after: $step"
}

setup() {
    run_wine setup.log 'C:\tvn-test\setup.exe' /S "$@"
}

write_settings() {
    local name
    for name in DecimalDigits ViewMetric; do
        run_wine reg.log reg add 'HKCU\SOFTWARE\Quorlen\Tolvane\Settings' /v "$name" \
            /t REG_BINARY /d 0200000000000000 /f || fail "writing the setting $name"
    done
}

# show_sizes [TEXT]: the Details-view stand-in lists C:\tvn-sizes through the installed column
# handler; the folder "big" holds 3,500,000 bytes in two levels, which only a folder size can
# show. The sort column carries the plain byte count; TEXT, if given, is the size column's text
# that the user's settings make of it.
show_sizes() {
    local text=${1:-}
    local out=$run/details.txt
    if ! run_wine details.log 'C:\tvn-test\details_view.exe' 'C:\tvn-sizes'; then
        fail "details_view after: $step"
        return
    fi
    tr -d '\r' <"$run/details.log" >"$out"
    local row
    row=$(grep -F 'big\ ' "$out" | head -n 1)
    if [[ "$row" == *" 3500000 "* ]] && [[ "$row" =~ $text ]]; then
        echo "ok: folder sizes shown from the installed copy after: $step"
    else
        fail "no folder size for C:\\tvn-sizes\\big after: $step"
        cat "$out"
    fi
}

make_sizes() {
    local sizes="$WINEPREFIX/drive_c/tvn-sizes"
    mkdir -p "$sizes/big/inner"
    head -c 3000000 /dev/zero >"$sizes/big/a.bin"
    head -c 500000 /dev/zero >"$sizes/big/inner/b.bin"
    head -c 1234 /dev/zero >"$sizes/small.bin"
}

# The stop helper as installed, with no server running: bad arguments are refused (1) and
# nothing is touched; a well-formed call finds nothing to end (0).
stop_helper_arguments() {
    local args expected rc
    while IFS='|' read -r expected args; do
        # shellcheck disable=SC2086
        run_wine helper.log 'C:\Program Files\Tolvane\TVN Stop Server.exe' $args
        rc=$?
        [ "$rc" -eq "$expected" ] || fail "TVN Stop Server.exe $args: exit code $rc, expected $expected"
    done <<'CASES'
1|/deadline=abc
1|/deadline=
1|/deadline=-5
1|/deadline=5000x
1|/frobnicate
1|/deadline=9999999
0|
0|/deadline=0 /terminate
0|-DEADLINE=100
CASES
    echo "ok: stop helper arguments"
}

lifecycle() {
    make_sizes
    step="silent install"
    setup || fail "$step: exit code $?"
    check Installed Server.DoesNotRun
    stop_helper_arguments
    show_sizes
    run_wine checks.log 'C:\tvn-test\installer_checks.exe' --gtest_filter=Server.Runs \
        || fail "the column handler did not start the installed cache server"

    step="install over the existing one, with settings saved and the server running"
    write_settings
    setup || fail "$step: exit code $?"
    check Installed SettingsKept Server.DoesNotRun
    show_sizes '3\.34 MB'

    step="silent uninstall with the server running"
    check Server.Runs
    run_wine uninstall.log 'C:\Program Files\Tolvane\Uninstall.exe' /S \
        || fail "$step: exit code $?"
    wait_prefix_idle
    check Uninstalled SettingsKept Server.DoesNotRun

    step="install again, uninstall with /REMOVESETTINGS"
    setup || fail "$step: setup exit code $?"
    check Installed SettingsKept
    run_wine uninstall.log 'C:\Program Files\Tolvane\Uninstall.exe' /S /REMOVESETTINGS \
        || fail "$step: exit code $?"
    wait_prefix_idle
    check Uninstalled SettingsRemoved
}

# Waits until the uninstaller, which goes on as a copy of itself, has removed itself.
wait_uninstalled() {
    local i
    for i in $(seq 240); do
        [ -e "$WINEPREFIX/drive_c/Program Files/Tolvane/Uninstall.exe" ] || return 0
        sleep 0.25
    done
    fail "the uninstaller did not finish after: $step"
}

# Starts a Details view that hosts the column handler and the toolbar band (so holds both
# libraries) until the prefix is ended; returns once its window is up.
hold_libraries() {
    (cd "$WINEPREFIX/drive_c" && wine 'C:\tvn-test\details_view.exe' --window 120000 \
        'C:\tvn-sizes' >"$run/window.log" 2>&1 </dev/null) &
    run_wine probe.log 'C:\tvn-test\window_probe.exe' 'C:\tvn-sizes - Details view' \
        'C:\tvn-test\ready.txt' || fail "the Details view window did not come up for: $step"
}

# Ends every program of the prefix and restarts it as Windows would restart.
restart_windows() {
    wineserver -k
    wineserver -w
    run_wine restart.log wineboot -r || fail "wineboot -r for: $step"
}

held() {
    make_sizes
    step="silent install"
    setup || fail "$step: exit code $?"
    hold_libraries

    step="install over it while a Details view holds the libraries"
    setup || fail "$step: exit code $?"
    check Installed HeldLibraries.MovedAsideAndDeletedAtRestart -Installed.NothingMovedAside
    step="the next restart"
    restart_windows
    check Installed

    step="silent uninstall while a Details view holds the libraries"
    hold_libraries
    run_wine uninstall.log 'C:\Program Files\Tolvane\Uninstall.exe' /S \
        || fail "$step: exit code $?"
    wait_uninstalled
    check Uninstalled.NoRegistrationEntryIsLeft Uninstalled.NoAddRemoveOrRunEntry \
        HeldLibraries.LeftForTheNextRestart
    step="the Details view ended and Windows restarted"
    restart_windows
    check Uninstalled
}

failing() {
    # The same script and payload, with TVN Bar.dll replaced by a damaged copy: its DOS header
    # is kept and the rest cut short, so that loading it (and so regsvr32) fails.
    local payload=$run/payload
    mkdir -p "$payload"
    head -c 4096 "$build/bar/TVN Bar.dll" >"$payload/TVN Bar.dll"
    if ! makensis -V2 -NOCD "-DPAYLOAD=$build/installer/payload.nsh" \
            "-DTVN_BAR_DLL=$payload/TVN Bar.dll" "-DTVN_OUTFILE=$tools/damaged-setup.exe" \
            "$top/installer/tolvane.nsi" >"$run/makensis.log" 2>&1; then
        cat "$run/makensis.log"
        fail "makensis of the damaged setup"
        return
    fi
    step="setup with a damaged library"
    run_wine setup.log 'C:\tvn-test\damaged-setup.exe' /S
    local rc=$?
    [ $rc -eq 2 ] || fail "$step: exit code $rc, expected 2"
    wait_prefix_idle
    check Uninstalled Server.DoesNotRun

    # Into a folder that already holds files: only what this setup copied goes.
    step="setup with a damaged library into a folder that holds other files"
    local shared="$WINEPREFIX/drive_c/Shared"
    mkdir -p "$shared" && echo theirs >"$shared/Uninstall.exe"
    run_wine setup.log 'C:\tvn-test\damaged-setup.exe' /S '/D=C:\Shared'
    rc=$?
    [ $rc -eq 2 ] || fail "$step: exit code $rc, expected 2"
    wait_prefix_idle
    [ "$(ls "$shared")" = Uninstall.exe ] || fail "$step: left $(ls "$shared" | tr '\n' ' ')"
    [ "$(cat "$shared/Uninstall.exe")" = theirs ] || fail "$step: its Uninstall.exe was deleted"
    check Uninstalled Server.DoesNotRun
}

# page [BUTTON]: presses BUTTON of the setup's window (when given), then leaves the texts of
# the page it shows in $run/page.txt.
page() {
    rm -f "$WINEPREFIX/drive_c/tvn-test/page.txt"
    run_wine probe.log 'C:\tvn-test\window_probe.exe' "$title" 'C:\tvn-test\page.txt' "$@" \
        || fail "no setup window after: $step"
    tr -d '\r' <"$WINEPREFIX/drive_c/tvn-test/page.txt" >"$run/page.txt" 2>/dev/null
}

finish() {
    local note="Explorer of this version of Windows shows neither column handlers nor toolbars"
    local version
    for version in win7 win2003; do
        step="an interactive install on $version"
        run_wine winecfg.log winecfg -v "$version" || fail "winecfg -v $version"
        (cd "$WINEPREFIX/drive_c" && wine 'C:\tvn-test\setup.exe' >"$run/setup-ui.log" 2>&1 \
            </dev/null) &
        local installing=$!
        page    # the components
        page 1  # Next: the folder
        page 1  # Install
        local tries=0
        until grep -q "Click Finish" "$run/page.txt" || [ $tries -ge 60 ]; do
            sleep 1
            tries=$((tries + 1))
            page
        done
        grep -q "has been installed on your computer" "$run/page.txt" \
            || fail "no finish page after: $step"
        if [ $version = win7 ] && ! grep -qF "$note" "$run/page.txt"; then
            fail "the finish page does not say where the columns appear after: $step"
        elif [ $version = win2003 ] && grep -qF "$note" "$run/page.txt"; then
            fail "the finish page speaks of later Windows after: $step"
        fi
        page 1  # Finish
        wait $installing || fail "$step: exit code $?"
        check Installed.EveryFileIsInTheProgramFolder
    done
}

case $scenario in
    lifecycle) lifecycle ;;
    held) held ;;
    failing) failing ;;
    finish) finish ;;
    *) echo "unknown scenario $scenario"; exit 1 ;;
esac

if [ $failures -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "scenario $scenario passed"
