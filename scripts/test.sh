#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine, in a throw-away prefix made from
# a template. Extra arguments go to ctest (for example -R FolderTreeCache).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
bash "$top/scripts/build.sh"
source "$top/scripts/wine-env.sh"

make_template "$build/wine-template"
run=$(mktemp -d /tmp/tolvane-test.XXXXXX)
export WINEPREFIX="$run/prefix"
trap 'stop_prefix "$run"' EXIT
make_run_prefix "$build/wine-template" "$WINEPREFIX" "$run/drives"
bash "$top/tests/fixtures/make-fixtures.sh" "$run/drives"

# One persistent wineserver for the whole run; the prefix's services start with their output
# away from any pipe a test harness reads. Windows get a virtual X display.
wineserver -p
cd "$build"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    wine wineboot >/dev/null 2>&1 </dev/null
    ctest --output-on-failure --timeout 600 "$@"' ctest "$@"
