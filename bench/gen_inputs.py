#!/usr/bin/env python3
"""Generates the benchmark's inputs, the same bytes on every machine (fixed seed):

  small.pkg  "many small": MEMBERS files of 0 to 9,000 bytes (skewed towards small ones,
             size = 9000 * u**2.8) in 50 directories files/d00 .. files/d49
  small-old.pkg  the version before it, for an update: the same names and sizes, other
             bytes, one day older
  large.pkg  "few large": LARGE files large/l00.bin .., alternately 4 and 8 MiB
  copy-src/  COPY files for the guarded copy, sizes as in small.pkg, one directory

Both packages are ustar, made by GNU tar with sorted names, one mtime and owner 0, so
the archives themselves are identical from run to run. Usage:
  gen_inputs.py DIR MEMBERS LARGE COPY
"""
import os
import random
import shutil
import subprocess
import sys

SEED = 20240601
MTIME = 1704067200  # 2024-01-01 00:00:00 UTC
MIB = 1024 * 1024


def pool(rng, size):
    return rng.randbytes(size)


def small_sizes(rng, count):
    return [int(9000 * rng.random() ** 2.8) for _ in range(count)]


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, 0o644)
    os.utime(path, (MTIME, MTIME))


def make_tar(out, root, top, mtime=MTIME):
    subprocess.run(["tar", "--format=ustar", "--sort=name", "--mtime=@%d" % mtime,
                    "--owner=0", "--group=0", "--numeric-owner", "--mode=a+rX,u+w,go-w",
                    "-cf", out, "-C", root, top], check=True)


def older_tree(tree, old, count=None):
    """The version before tree (or its first count files): the same names and sizes,
    each file's bytes reversed."""
    for d in sorted(os.listdir(os.path.join(tree, "files"))):
        os.makedirs(os.path.join(old, "files", d))
    names = sorted(n for d in os.listdir(os.path.join(tree, "files"))
                   for n in os.listdir(os.path.join(tree, "files", d)))
    for n in names[:count]:
        rel = os.path.join("files", "d%02d" % (int(n[1:6]) % 50), n)
        with open(os.path.join(tree, rel), "rb") as f:
            data = f.read()
        write(os.path.join(old, rel), data[::-1])


def main():
    out, members, large, copies = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    stamp = os.path.join(out, "inputs.stamp")
    want = "seed=%d members=%d large=%d copy=%d update=1\n" % (SEED, members, large, copies)
    if os.path.exists(stamp) and open(stamp).read() == want:
        return
    if os.path.exists(out):
        shutil.rmtree(out)
        # Many files removed: measure.py waits before creating as many again.
        open(os.path.join(os.path.dirname(out), "last-removal"), "w").close()
    os.makedirs(out)
    rng = random.Random(SEED)
    data = pool(rng, 16 * MIB)

    tree = os.path.join(out, "tree-small")
    for d in range(50):
        os.makedirs(os.path.join(tree, "files", "d%02d" % d))
    for i, size in enumerate(small_sizes(rng, members)):
        off = rng.randrange(0, len(data) - 9001)
        write(os.path.join(tree, "files", "d%02d" % (i % 50), "f%05d.dat" % i), data[off:off + size])
    make_tar(os.path.join(out, "small.pkg"), tree, "files")
    # The update's version before, one day older.
    older_tree(tree, os.path.join(out, "tree-small-old"))
    make_tar(os.path.join(out, "small-old.pkg"), os.path.join(out, "tree-small-old"), "files", MTIME - 86400)
    # The trees stay: removing 20,000 files would slow the next 20,000 creations (measure.py).

    tree = os.path.join(out, "tree-large")
    os.makedirs(os.path.join(tree, "large"))
    for i in range(large):
        size = (4 if i % 2 == 0 else 8) * MIB
        # Two random halves of the pool make each member's bytes its own.
        body = rng.randbytes(size // 2)
        write(os.path.join(tree, "large", "l%02d.bin" % i), body + data[:size - len(body)])
    make_tar(os.path.join(out, "large.pkg"), tree, "large")
    shutil.rmtree(tree)

    src = os.path.join(out, "copy-src")
    os.makedirs(src)
    for i, size in enumerate(small_sizes(rng, copies)):
        off = rng.randrange(0, len(data) - 9001)
        write(os.path.join(src, "f%05d.dat" % i), data[off:off + size])
    os.utime(src, (MTIME, MTIME))

    with open(stamp, "w") as f:
        f.write(want)


if __name__ == "__main__":
    main()
