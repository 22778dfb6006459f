#!/usr/bin/env bash
# Fails when a C or C++ source of the repository differs from what the committed .clang-format
# makes of it. The formatter's version is pinned: another version formats some constructs
# differently. With --fix it formats the files in place instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
format=clang-format-14
mode=(--dry-run --Werror)
[ "${1:-}" = "--fix" ] && mode=(-i)
files=$(git ls-files -co --exclude-standard '*.c' '*.cpp' '*.h' | while read -r f; do
    [ -f "$f" ] && echo "$f"; done)
[ -z "$files" ] && exit 0
echo "$files" | xargs "$format" "${mode[@]}"
