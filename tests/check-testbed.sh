#!/usr/bin/env bash
# Asserts that the run's prefix is closed: no link in it, or in the fixture folders beside it,
# resolves to a place outside the prefix and the fixture folders (device links of serial and
# parallel ports excepted: they lead to no files), and no z: drive maps the machine's root.
# Usage: check-testbed.sh [PREFIX] (default $WINEPREFIX); the fixtures are PREFIX/../drives.
set -euo pipefail
prefix=$(realpath "${1:-${WINEPREFIX:?no prefix given}}")
fixtures=$(realpath -m "$prefix/../drives")
[ -d "$prefix/dosdevices" ] || { echo "not a prefix: $prefix"; exit 2; }

bad=0 links=0
while IFS= read -r -d '' link; do
    links=$((links + 1))
    target=$(realpath -m "$link")
    case "$target" in
        "$prefix" | "$prefix"/* | "$fixtures" | "$fixtures"/*) continue ;;
    esac
    if [ -c "$target" ] || [ -b "$target" ]; then
        continue
    fi
    echo "leads outside: ${link#"$prefix"/} -> $target"
    bad=$((bad + 1))
done < <(find "$prefix" "$fixtures" -type l -print0 2>/dev/null)

if [ -e "$prefix/dosdevices/z:" ] || [ -L "$prefix/dosdevices/z:" ]; then
    echo "z: is mapped: $(readlink "$prefix/dosdevices/z:")"
    bad=$((bad + 1))
fi
echo "$links links checked, $bad lead outside"
[ "$bad" -eq 0 ]
