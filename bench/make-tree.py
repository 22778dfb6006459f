#!/usr/bin/env python3
"""Builds the benchmark tree from the Linux side (listing speed does not depend on who made it).

About 200,000 entries: 4 levels of 10 subfolders (11,110 folders) with 17 files each, plus a
chain of 20 folders for the change-at-depth measure. Prints the chain's Windows path."""
import os
import sys

root = sys.argv[1]
win_root = sys.argv[2]
if not os.path.isdir(os.path.join(root, "chain")):
    def fill(path, level):
        os.makedirs(path, exist_ok=True)
        for f in range(17):
            with open(os.path.join(path, "file-%02d.dat" % f), "wb") as out:
                out.truncate(1000 + 37 * f + level)
        if level < 4:
            for d in range(10):
                fill(os.path.join(path, "dir-%d" % d), level + 1)
    fill(root, 0)
    chain = os.path.join(root, "chain")
    for depth in range(1, 21):
        chain = os.path.join(chain, "level-%02d" % depth)
        os.makedirs(chain)
        with open(os.path.join(chain, "f.dat"), "wb") as out:
            out.truncate(depth)
print(win_root + "\\chain" + "".join("\\level-%02d" % d for d in range(1, 20)))
