#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine, in a throw-away prefix made from
# a template; then runs every end-to-end case again in a prefix that reports Windows Server
# 2003 (NT 5.2), the Windows whose Explorer hosts column handlers and toolbar bands.
#
# Extra arguments go to ctest (for example -R FolderTreeCache) and select the cases of the
# first run; the second run is made only when none are given. TVN_WINDOWS=win2003 (or any
# other name `winecfg -v` takes) runs the selected cases in a prefix that reports that Windows
# instead, and nothing else.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
bash "$top/scripts/build.sh"
source "$top/scripts/wine-env.sh"

# The end-to-end cases of each deliverable: the server over COM, the column handler (with the
# plain-sort policy that depends on the reported Windows), the band in its host, the
# properties program, the crash reporter, setup and uninstall.
end_to_end='^(ComClient|CacheServer|ColumnProvider|ColumnRegistration|DetailsView|PlainSortAlignment|Band[A-Za-z]*|PropertiesProgramTest|PropertiesResetCache|CrashReporter|Installer)\.'

make_template "$build/wine-template"
run=$(mktemp -d /tmp/tolvane-test.XXXXXX)
trap 'stop_prefix "$run"' EXIT

# run_suite NAME WINDOWS [CTEST ARGS...]: a prefix of its own in $run/NAME that reports WINDOWS
# ("" for Wine's default), the fixture drives, one persistent wineserver for the whole run and
# the prefix's services started with their output away from any pipe a test harness reads;
# windows get a virtual X display.
run_suite() {
    local name=$1 windows=$2
    shift 2
    export WINEPREFIX="$run/$name/prefix"
    make_run_prefix "$build/wine-template" "$WINEPREFIX" "$run/$name/drives"
    bash "$top/tests/fixtures/make-fixtures.sh" "$run/$name/drives"
    if [ -n "$windows" ]; then
        wine winecfg -v "$windows" >/dev/null 2>&1 </dev/null
        wineserver -w
        echo "Windows reported by the prefix: $(wine winecfg -v 2>/dev/null | tr -d '\r')"
        wineserver -w
    fi
    wineserver -p
    local status=0
    (cd "$build" && xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        wine wineboot >/dev/null 2>&1 </dev/null
        ctest --output-on-failure --timeout 600 "$@"' ctest "$@") || status=$?
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    return $status
}

if [ -n "${TVN_WINDOWS:-}" ]; then
    run_suite "$TVN_WINDOWS" "$TVN_WINDOWS" "$@"
    exit
fi
status=0
run_suite default "" "$@" || status=$?
if [ $# -eq 0 ]; then
    echo "End-to-end cases again, on a prefix that reports Windows Server 2003:"
    run_suite win2003 win2003 -R "$end_to_end" || status=$?
fi
exit $status
