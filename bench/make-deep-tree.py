#!/usr/bin/env python3
"""Builds a tree shaped like a user's documents from the Linux side: 55,986 folders below a
root four levels down (six subfolders in each folder, six levels), mixed-case names of 6 to 22
characters, two small files per folder. Full folder paths average well over 80 characters.
Prints the Windows path of the root of the tree (the folder to scan)."""
import os
import sys

WORDS = ["Invoices", "photos-Summer", "build-output", "Drafts", "Archive-2019", "tax_returns",
         "Meeting notes", "scans", "Reference material", "old-backups", "Client Projects",
         "raw", "exports", "Vacation 2023", "templates", "Correspondence"]
FANOUT = 6
DEPTH = 6

root = sys.argv[1]
win_root = sys.argv[2]
base = os.path.join(root, "Users", "m.hartmann", "Documents")
win_base = win_root + "\\Users\\m.hartmann\\Documents"
marker = os.path.join(root, ".complete")


def fill(path, level, seed):
    os.makedirs(path, exist_ok=True)
    for f in range(2):
        with open(os.path.join(path, "note-%d.txt" % f), "wb") as out:
            out.truncate(100 + 7 * f + level)
    if level < DEPTH:
        for d in range(FANOUT):
            word = WORDS[(seed * 7 + d * 3 + level) % len(WORDS)]
            fill(os.path.join(path, "%s %02d" % (word, d)), level + 1, seed * FANOUT + d + 1)


if not os.path.exists(marker):
    fill(base, 0, 0)
    open(marker, "w").close()
print(win_base)
