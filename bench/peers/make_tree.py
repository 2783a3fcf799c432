#!/usr/bin/env python3
"""Makes a tree of small files for the side-by-side benchmarks.

    make_tree.py ROOT FILES FOLDERS

FILES files of 0 to 8 KiB, spread evenly over FOLDERS folders named d000...,
the same tree for the same arguments (a fixed seed), so every tool and every
round meets the same sizes.
"""
import os
import random
import sys

root, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(14)
blob = os.urandom(8192)
width = max(3, len(str(folders - 1)))
for d in range(folders):
    folder = os.path.join(root, "d%0*d" % (width, d))
    os.makedirs(folder)
    # The first FILES % FOLDERS folders take one file more, so the total is exact.
    count = files // folders + (1 if d < files % folders else 0)
    for f in range(count):
        size = rng.randint(0, 8192)
        with open(os.path.join(folder, "f%03d.dat" % f), "wb") as out:
            out.write(blob[:size])
