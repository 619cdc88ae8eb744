#!/usr/bin/env python3
"""Writes an operations benchmark corpus, the same bytes on every run.

    make_corpus.py DIR [small|large|mixed]

small (about 300 MB): 20,000 small source-like files in 400 folders, 200 medium files
of mixed kinds, one large compressible log and one incompressible file.
large (about 340 MB): most bytes in a few large files: a 100 MB log, a 100 MB video,
photos and audio, none of them but the log compressible.
mixed (about 300 MB): a source tree of 8,000 small files, already compressed media of
1-20 MB (photos, video, archives) and two large compressible files, a 80 MB log and a
60 MB CSV export. File times are fixed too.
"""
import os
import random
import sys

root = sys.argv[1]
kind_of_corpus = sys.argv[2] if len(sys.argv) > 2 else "small"
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


def server_log(target):
    line_pool = [("2026-12-07T%02d:%02d:%02d host%d service[%d]: %s %s %d\n" % (
        rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59), rng.randint(1, 9),
        rng.randint(100, 999), rng.choice(WORDS), rng.choice(WORDS), rng.randint(0, 65535))).encode()
        for _ in range(50000)]
    chunks = []
    size = 0
    while size < target:
        block = b"".join(rng.choices(line_pool, k=2000))
        chunks.append(block)
        size += len(block)
    return b"".join(chunks)


def small_corpus():
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
    write("large/server.log", server_log(100 << 20))

    # One incompressible file.
    write("large/random.bin", rng.randbytes(40 << 20))


def large_corpus():
    write("logs/server.log", server_log(100 << 20))
    # Already compressed media: a short header before bytes that do not compress.
    write("video/holiday.mp4", b"\x00\x00\x00\x20ftypisom" + rng.randbytes(100 << 20))
    for i in range(30):
        write("photos/IMG_%04d.jpg" % i, b"\xff\xd8\xff\xe0\x00\x10JFIF" + rng.randbytes(rng.randint(1500, 4000) << 10))
    for i in range(10):
        write("audio/track%02d.flac" % i, b"fLaC" + rng.randbytes(rng.randint(5 << 10, 8 << 10) << 10))


def csv_export(target):
    rows = []
    size = 0
    row = 0
    while size < target:
        line = "%d,%s,%s,%d.%02d,2026-%02d-%02d,%s\n" % (
            row, rng.choice(WORDS), rng.choice(WORDS), rng.randint(0, 9999), rng.randint(0, 99),
            rng.randint(1, 12), rng.randint(1, 28), rng.choice(("open", "closed", "pending")))
        rows.append(line)
        size += len(line)
        row += 1
    return "".join(rows).encode()


def mixed_corpus():
    pool = source_text(4 << 20)
    for i in range(8000):
        size = max(200, min(int(rng.lognormvariate(7.8, 0.8)), 20000))
        start = rng.randrange(0, len(pool) - size)
        write("project/src/pkg%02d/unit%04d.cpp" % (i % 60, i), pool[start:start + size])
    # Media that does not compress, in sizes from a photo to a short video.
    headers = (b"\xff\xd8\xff\xe0\x00\x10JFIF", b"\x00\x00\x00\x20ftypisom", b"PK\x03\x04", b"\x89PNG\r\n\x1a\n")
    names = ("photos/DSC%04d.jpg", "video/clip%02d.mp4", "downloads/bundle%02d.zip", "images/scan%02d.png")
    for i in range(14):
        size = rng.randint(1 << 20, 14 << 20) if i % 4 else rng.randint(12 << 20, 20 << 20)
        write(names[i % 4] % i, headers[i % 4] + rng.randbytes(size))
    write("logs/access.log", server_log(80 << 20))
    write("exports/orders.csv", csv_export(60 << 20))


{"small": small_corpus, "large": large_corpus, "mixed": mixed_corpus}[kind_of_corpus]()
