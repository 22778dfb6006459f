#!/usr/bin/env bash
# Every shipped binary and tool must be self-contained: its imports are Windows system DLLs
# only (no C++ runtime, libgcc or winpthread DLLs). Usage: check-imports.sh BUILD_DIR
set -euo pipefail
build=$1
allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|shell32|shlwapi|comctl32|comdlg32|msvcrt|msimg32|uxtheme|version|rpcrt4|psapi|dbghelp|ntdll|api-ms-win-[a-z0-9-]+)\.dll$'
checked=0
failed=0
while IFS= read -r -d '' file; do
    checked=$((checked + 1))
    while read -r dll; do
        if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
            echo "$file imports $dll"
            failed=1
        fi
    done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
    if ! x86_64-w64-mingw32-objdump -f "$file" | grep -q 'x86-64'; then
        echo "$file is not an x64 binary"
        failed=1
    fi
done < <(find "$build" \( -path "$build/googletest" -o -path "$build/wine-template" \
                          -o -name CMakeFiles \) -prune -o \
              \( -name '*.exe' -o -name '*.dll' \) -type f -print0)
echo "$checked binaries checked"
[ "$checked" -gt 0 ] && [ "$failed" -eq 0 ]
