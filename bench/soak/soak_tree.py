#!/usr/bin/env python3
"""Makes the soak's source tree with its SHA-256 manifest, and checks a
destination against that manifest afterwards.

  soak_tree.py make   SRC MANIFEST [FILES] [SEED]
  soak_tree.py verify SRC DST MANIFEST

Names are bytes throughout (os.fsencode), so nothing is lost to decoding.
"""
import hashlib
import os
import random
import sys

WORDS = ["Bericht", "photo", "Grüße", "résumé", "日本語", "a;b", "notes ;x", "über ß",
         "Ångström", "x y  z", "data", "Ελληνικά", "semi;colon", "plain"]
EXTS = [".txt", ".jpg", ".bin", ".dat", "", ".tar.gz", ".ÄÖÜ", ".md"]


def size_for(rnd):
    # Mostly small files; a few large ones up to 8 MiB keep the total near 2 GB.
    r = rnd.random()
    if r < 0.05:
        return 0
    if r < 0.80:
        return rnd.randint(1, 4096)
    if r < 0.98:
        return rnd.randint(4097, 32 * 1024)
    if r < 0.998:
        return rnd.randint(32 * 1024 + 1, 1024 * 1024)
    return rnd.randint(1024 * 1024 + 1, 8 * 1024 * 1024)


def folders(rnd):
    out = [""]
    for a in range(20):
        top = f"{a:02d} {rnd.choice(WORDS)}"
        out.append(top)
        for b in range(10):
            mid = os.path.join(top, f"{b} {rnd.choice(WORDS)}")
            out.append(mid)
            for c in range(5):
                out.append(os.path.join(mid, f"leaf{c};{rnd.choice(WORDS)}"))
    return out


def make(src, manifest, count, seed):
    rnd = random.Random(seed)
    dirs = folders(rnd)
    for d in dirs:
        os.makedirs(os.path.join(src, d), exist_ok=True)
    total = 0
    with open(manifest, "wb") as m:
        for i in range(count):
            d = dirs[i % len(dirs)]
            name = f"{i:06d} {rnd.choice(WORDS)}{rnd.choice(EXTS)}"
            rel = os.fsencode(os.path.join(d, name))
            size = size_for(rnd)
            data = rnd.randbytes(size)
            with open(os.path.join(os.fsencode(src), rel), "wb") as f:
                f.write(data)
            total += size
            m.write(hashlib.sha256(data).hexdigest().encode() + b"\t" + str(size).encode() +
                    b"\t" + rel + b"\n")
    print(f"made {count} files in {len(dirs)} folders, {total} bytes ({total / 2**30:.2f} GiB)")


def below_first_level(path):
    # "/L1/rest" gives "rest": the structure a destination rebuilds.
    second = path.find(b"/", 1)
    return path[1:] if second < 0 else path[second + 1:]


def sha256_of(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            h.update(chunk)
    return h.hexdigest().encode()


def verify(src, dst, manifest):
    src_b = os.fsencode(os.path.abspath(src))
    dst_b = os.fsencode(os.path.abspath(dst))
    problems = 0
    expected = set()
    with open(manifest, "rb") as m:
        for line in m:
            digest, size, rel = line.rstrip(b"\n").split(b"\t", 2)
            target = os.path.join(dst_b, below_first_level(os.path.join(src_b, rel)))
            expected.add(target)
            try:
                if os.path.getsize(target) != int(size) or sha256_of(target) != digest:
                    print("differs:", target.decode(errors="replace"))
                    problems += 1
            except OSError as e:
                print("missing:", target.decode(errors="replace"), e)
                problems += 1
    found = 0
    leftovers = 0
    for root, _, files in os.walk(dst_b):
        for f in files:
            path = os.path.join(root, f)
            if f.endswith(b".zandrel-part"):
                leftovers += 1
                print("temporary left:", path.decode(errors="replace"))
            elif path not in expected:
                print("unexpected:", path.decode(errors="replace"))
                problems += 1
            found += 1
    source_left = sum(len(files) for _, _, files in os.walk(src_b))
    print(f"manifest {len(expected)} files; destination holds {found} files; "
          f"source files left {source_left}; source folder {'exists' if os.path.exists(src_b) else 'gone'}; "
          f"temporaries {leftovers}; problems {problems}")
    return 0 if problems == 0 and leftovers == 0 and found == len(expected) and source_left == 0 \
        and not os.path.exists(src_b) else 1


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], sys.argv[3], int(sys.argv[4]) if len(sys.argv) > 4 else 100000,
             int(sys.argv[5]) if len(sys.argv) > 5 else 1)
    elif sys.argv[1] == "verify":
        sys.exit(verify(sys.argv[2], sys.argv[3], sys.argv[4]))
    else:
        sys.exit("usage: soak_tree.py make|verify ...")
