#!/usr/bin/env python3
"""Builds a tree of 20,423 folders whose own names are all 16 characters long, from the Linux
side: five levels below the root, seven subfolders per folder on the first four levels and
seven or eight on the last, one small file per folder. With a root of ten characters
(`m:\\names16`) the full folder paths average 92.3 characters. Prints the Windows path of
the root of the tree (the folder to scan)."""
import os
import sys

WORDS = ["Invoices", "photos-Summer", "build-output", "Drafts", "Archive-2019", "tax_returns",
         "Meeting notes", "scans", "Reference material", "old-backups", "Client Projects",
         "raw", "exports", "Vacation 2023", "templates", "Correspondence"]
FANOUT = 7
DEPTH = 5
FOLDERS = 20423
# Folders of the last level, shared out so that the whole tree has FOLDERS folders.
PARENTS = FANOUT ** (DEPTH - 1)
LEAVES = FOLDERS - sum(FANOUT ** level for level in range(DEPTH))
ONE_MORE = LEAVES - PARENTS * FANOUT  # parents of the last level with FANOUT + 1 children

root = sys.argv[1]
win_root = sys.argv[2]
marker = os.path.join(root, ".complete")


def name(word, index):
    # 13 characters of words (never ending in a blank), then "-" and two digits: 16 in all.
    stem = ((word + " ") * 4)[:13].replace(" ", "_")
    return "%s-%02d" % (stem, index)


def fill(path, level, seed, counter):
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, "note.txt"), "wb") as out:
        out.truncate(100 + level)
    if level == DEPTH:
        return
    children = FANOUT
    if level == DEPTH - 1:
        children += 1 if counter[0] < ONE_MORE else 0
        counter[0] += 1
    for d in range(children):
        word = WORDS[(seed * 7 + d * 3 + level) % len(WORDS)]
        fill(os.path.join(path, name(word, d)), level + 1, seed * FANOUT + d + 1, counter)


if not os.path.exists(marker):
    fill(root, 0, 0, [0])
    open(marker, "w").close()
print(win_root)
