#!/usr/bin/env python3
"""Checks that Windows x64 binaries load on 64-bit Windows XP and Server 2003 (NT 5.2).

usage: nt52_imports.py BIN...

Reads each binary's import table with x86_64-w64-mingw32-objdump and looks every function
imported by name up in the export list of its DLL in nt52-exports/ beside this script (DLL
names match without regard to case, function names exactly). A DLL without a list counts as
missing whole: nothing may be imported that the lists do not vouch for. Functions looked up at
run time (GetProcAddress) are not in the import table: that is how a newer function is used.

Prints one line per import NT 5.2 lacks ("BIN: DLL!Function"), then a summary line; exit
status 0 when every import is there, 1 when some are not, 2 when a binary cannot be read.
"""
import os
import re
import subprocess
import sys

EXPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nt52-exports")
DLL_LINE = re.compile(r"^\s*DLL Name:\s*(.+?)\s*$")
# objdump's rows: "\t<thunk>\t <hint>  <name>"; by ordinal the name is "<none>".
IMPORT_ROW = re.compile(r"^\t[0-9a-fA-F]+\t\s*[0-9a-fA-F]+\s+(\S+)")


def imports_of(path):
    """(dll, function) pairs of the binary's import table; ordinals are skipped."""
    listing = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path],
                             capture_output=True, text=True)
    if listing.returncode != 0:
        raise OSError(listing.stderr.strip() or "objdump failed")
    dll = None
    for line in listing.stdout.splitlines():
        match = DLL_LINE.match(line)
        if match:
            dll = match.group(1)
        elif dll and not line.strip():
            dll = None
        elif dll:
            match = IMPORT_ROW.match(line)
            if match and match.group(1) != "<none>":
                yield dll, match.group(1)


def exports_of(dll, known):
    key = dll.lower()
    if key not in known:
        try:
            with open(os.path.join(EXPORTS, key + ".txt"), encoding="utf-8") as f:
                known[key] = {l.strip() for l in f if l.strip() and not l.startswith("#")}
        except FileNotFoundError:
            known[key] = set()
    return known[key]


def main(binaries):
    known = {}
    checked = missing = 0
    for path in binaries:
        try:
            for dll, function in imports_of(path):
                checked += 1
                if function not in exports_of(dll, known):
                    print("%s: %s!%s" % (path, dll, function))
                    missing += 1
        except OSError as error:
            print("%s: cannot read: %s" % (path, error))
            return 2
    print("%d binaries, %d imports, %d not exported by NT 5.2" % (len(binaries), checked, missing))
    return 1 if missing or not binaries else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
