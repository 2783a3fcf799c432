#!/usr/bin/env python3
"""Makes the tree the per-file cost benchmark copies.

    make_tree.py ROOT FILES FOLDERS

FILES files of 1 to 8 KiB spread evenly over FOLDERS folders named d000...,
one name in seven non-ASCII (UTF-8, of several scripts and lengths, so that
escaping, case folding and hashing meet more than ASCII). Sizes, contents and
names come from a fixed seed: the same arguments make the same tree, byte for
byte, so two runs count the same work.
"""
import os
import random
import sys

root, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(38)
blob = rng.randbytes(8192)
# Names of one, two, three and four bytes a character, decomposed and not.
foreign = ["é", "Ärger", "straße", "Ωμέγα", "Россия", "日本語", "한국", "e\u0301", "🙂", "ñandú"]
os.makedirs(root, exist_ok=True)
width = max(3, len(str(folders - 1)))
n = 0
for d in range(folders):
    folder = os.path.join(root, "d%0*d" % (width, d))
    os.makedirs(folder)
    # The first FILES % FOLDERS folders take one file more, so the total is exact.
    count = files // folders + (1 if d < files % folders else 0)
    for f in range(count):
        size = rng.randint(1024, 8192)
        offset = rng.randint(0, 8192 - size)
        n += 1
        if n % 7 == 0:
            name = "%s-%03d.dat" % (rng.choice(foreign), f)
        else:
            name = "f%03d.dat" % f
        with open(os.path.join(folder, name), "wb") as out:
            out.write(blob[offset:offset + size])
