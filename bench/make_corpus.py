#!/usr/bin/env python3
"""Writes the operations benchmark corpus (about 300 MB), the same bytes on every run.

    make_corpus.py DIR

20,000 small source-like files in 400 folders, 200 medium files of mixed kinds, one
large compressible log and one incompressible file. File times are fixed too.
"""
import os
import random
import sys

root = sys.argv[1]
rng = random.Random(20261207)
FIXED_TIME = 1700000000

WORDS = ("int char void return static const struct if else for while switch case break "
         "buffer length offset entry archive header result value index count name size "
         "read write open close error status table list node next prev data file path").split()


def source_text(target):
    lines = []
    size = 0
    depth = 0
    while size < target:
        kind = rng.random()
        if kind < 0.1:
            line = "// " + " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 12)))
        elif kind < 0.2:
            line = "%s %s_%d(%s %s)" % (rng.choice(WORDS), rng.choice(WORDS), rng.randint(0, 99),
                                        rng.choice(WORDS), rng.choice(WORDS)) + " {"
            depth += 1
        elif kind < 0.3 and depth:
            line = "}"
            depth -= 1
        else:
            line = "    " * depth + "%s = %s(%s, %d);" % (rng.choice(WORDS), rng.choice(WORDS),
                                                         rng.choice(WORDS), rng.randint(0, 4096))
        lines.append(line)
        size += len(line) + 1
    return ("\n".join(lines) + "\n").encode()


def write(path, data):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)
    os.utime(full, (FIXED_TIME, FIXED_TIME))


# Small files: a pool of generated text cut to sizes of 200 B .. 6 KB.
pool = source_text(8 << 20)
for i in range(20000):
    size = int(rng.lognormvariate(7.6, 0.7))
    size = max(200, min(size, 12000))
    start = rng.randrange(0, len(pool) - size)
    write("src/mod%03d/file%05d.c" % (i % 400, i), pool[start:start + size])

# Medium files: text, low-entropy binary, already compressed, mixed.
for i in range(200):
    size = rng.randint(200 << 10, 800 << 10)
    kind = i % 4
    if kind == 0:
        start = rng.randrange(0, len(pool) - size)
        data = pool[start:start + size]
    elif kind == 1:
        data = bytes(rng.choice(b"\x00\x00\x00\x01\x02\x7f\xff") for _ in range(size // 8)) * 8
    elif kind == 2:
        data = rng.randbytes(size)
    else:
        half = size // 2
        start = rng.randrange(0, len(pool) - half)
        data = pool[start:start + half] + rng.randbytes(size - half)
    write("media/item%03d.dat" % i, data)

# One large compressible log.
line_pool = [("2026-12-07T%02d:%02d:%02d host%d service[%d]: %s %s %d\n" % (
    rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59), rng.randint(1, 9),
    rng.randint(100, 999), rng.choice(WORDS), rng.choice(WORDS), rng.randint(0, 65535))).encode()
    for _ in range(50000)]
chunks = []
size = 0
while size < (100 << 20):
    block = b"".join(rng.choices(line_pool, k=2000))
    chunks.append(block)
    size += len(block)
write("large/server.log", b"".join(chunks))

# One incompressible file.
write("large/random.bin", rng.randbytes(40 << 20))
