#!/usr/bin/env bash
# Every shipped binary ships without debug information and names, in its debug link, the file
# beside it that holds that information (so a crash dump can be read with it).
# Usage: check-stripped.sh BINARY...
set -uo pipefail
failed=0
for file in "$@"; do
    sections=$(x86_64-w64-mingw32-objdump -h "$file")
    if grep -q ' \.debug_' <<<"$sections"; then
        echo "$file carries debug information"
        failed=1
    fi
    link=$(x86_64-w64-mingw32-objcopy --dump-section .gnu_debuglink=/dev/stdout "$file" 2>/dev/null \
           | head -z -n 1 | tr -d '\0')
    if [ "$link" != "$(basename "$file").debug" ]; then
        echo "$file has no debug link to $(basename "$file").debug (found: '$link')"
        failed=1
    elif ! x86_64-w64-mingw32-objdump -h "$file.debug" | grep -q ' \.debug_info'; then
        echo "$file.debug holds no debug information"
        failed=1
    fi
done
echo "$# binaries checked"
[ $# -gt 0 ] && [ $failed -eq 0 ]
