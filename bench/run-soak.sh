#!/usr/bin/env bash
# A longer soak of the cache server's reliability tests, outside the suite: the random changes
# against fresh scans and the load of several clients, TVN_SOAK times as long as in the suite
# (default 10: 3,000 operations and 21 load rounds of 4 s). Usage: bench/run-soak.sh [FACTOR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLVANE_BUILD:-$top/build}
source "$top/scripts/wine-env.sh"
open_run_prefix "$top" "$build"
bash "$top/tests/fixtures/make-fixtures.sh" "$run/drives"

export TVN_SOAK=${1:-${TVN_SOAK:-10}}
echo "soak factor $TVN_SOAK"
start=$(date +%s)
cd "$build/tests/cache"
bash "$top/tests/run-under-wine.sh" ./reliability_tests.exe \
    --gtest_filter='CacheServer.RandomChanges*:CacheServer.SeveralClients*'
echo "soak took $(( $(date +%s) - start )) s"
