#!/usr/bin/env python3
"""Archives for the decoders' tests, in methods no tool here writes.

  method_zip.py write METHOD SRC OUT.zip   METHOD: shrink, reduce1..reduce4,
                                           implode4k, implode8k, implode4k-lit,
                                           implode8k-lit, zstd, zstd-long (a 256 MiB window)
                                           wavpack (stored bytes under method 97)
  method_zip.py damage IN.zip OUT.zip cut|empty|flip
      rewrites the archive's only entry with its compressed data cut to 60 % or to
      nothing (sizes adjusted), or with one byte in its middle changed.
  method_zip.py big64 SIZE OUT.zip
      a Deflate64 entry of SIZE bytes: 64 KiB of noise, then copies of it made by the
      longest matches from the farthest distance Deflate64 has.

The encoders are plain and slow; they only need to be right.
"""
import heapq
import struct
import subprocess
import sys
import zlib


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, value, bits):  # least significant bit first
        self.acc |= value << self.n
        self.n += bits
        while self.n >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.n -= 8

    def align(self):
        if self.n:
            self.out.append(self.acc & 0xFF)
        self.acc = self.n = 0

    def done(self):
        if self.n:
            self.out.append(self.acc & 0xFF)
        return bytes(self.out)


def shrink(data):
    """LZW, 9 to 13 bits, growing on command 256,1 and clearing leaves on 256,2 when full.
    An entry is defined when the next code is sent, as the decoder defines it."""
    w = BitWriter()
    bits = 9
    prefix = {}  # code -> (prefix code, byte)
    lookup = {}  # (prefix code, byte) -> code
    free = 257
    pending = None

    def next_free(start):
        c = start
        while c < 8192 and c in prefix:
            c += 1
        return c

    def send(code):
        nonlocal bits
        while code >= (1 << bits):
            w.put(256, bits)
            w.put(1, bits)
            bits += 1
        w.put(code, bits)

    i = 0
    while i < len(data):
        if free >= 8192:
            w.put(256, bits)
            w.put(2, bits)
            # Leaves go, even the prefix of the entry still to be defined: PKZIP's way.
            used = {p for p, _ in prefix.values()}
            for c in [c for c in prefix if c not in used]:
                if lookup.get(prefix[c]) == c:
                    del lookup[prefix[c]]
                del prefix[c]
            free = next_free(257)
        code = data[i]
        i += 1
        while i < len(data) and (code, data[i]) in lookup:
            code = lookup[(code, data[i])]
            i += 1
        send(code)
        if pending and free < 8192:
            # Lazy definition can define a string twice; the decoder does not mind.
            prefix[free] = pending
            lookup.setdefault(pending, free)
            free = next_free(free + 1)
        pending = (code, data[i]) if i < len(data) else None
    return w.done()


def matches(data, i, window, longest, hashes, depth=24):
    """The longest earlier match at i: (length, distance), or (0, 0)."""
    if i + 3 > len(data):
        return 0, 0
    key = data[i:i + 3]
    best = (0, 0)
    for j in reversed(hashes.get(key, [])[-depth:]):
        d = i - j
        if d > window:
            break
        n = 0
        while n < longest and i + n < len(data) and data[j + n] == data[i + n]:
            n += 1
        if n > best[0]:
            best = (n, d)
    return best


def remember(data, i, hashes):
    if i + 3 <= len(data):
        hashes.setdefault(data[i:i + 3], []).append(i)


def reduce(data, factor):
    """Runs and back-references after byte 144, then bytes drawn from follower sets."""
    mask = 0xFF >> factor
    window = 256 << factor
    raw = bytearray()
    hashes = {}
    i = 0
    while i < len(data):
        n, d = matches(data, i, window, mask + 255 + 3, hashes)
        v = ((d - 1) >> 8) << (8 - factor) | min(n - 3, mask) if n >= 3 else 0
        if n >= 3 and v != 0:
            raw += bytes([144, v])
            if n - 3 >= mask:
                raw.append(n - 3 - mask)
            raw.append((d - 1) & 0xFF)
            for k in range(i, i + n):
                remember(data, k, hashes)
            i += n
            continue
        raw += b"\x90\x00" if data[i] == 144 else data[i:i + 1]
        remember(data, i, hashes)
        i += 1
    counts = [dict() for _ in range(256)]
    last = 0
    for c in raw:
        counts[last][c] = counts[last].get(c, 0) + 1
        last = c
    sets = [sorted(cs, key=lambda c: -cs[c])[:32] for cs in counts]
    w = BitWriter()
    for s in reversed(sets):
        w.put(len(s), 6)
        for c in s:
            w.put(c, 8)
    last = 0
    for c in raw:
        s = sets[last]
        if not s:
            w.put(c, 8)
        elif c in s:
            w.put(0, 1)
            w.put(s.index(c), max(1, (len(s) - 1).bit_length()))
        else:
            w.put(1, 1)
            w.put(c, 8)
        last = c
    return w.done()


def code_lengths(freqs, limit=16):
    """Prefix code lengths for every symbol (none zero), at most `limit` bits."""
    floor = 0
    while True:
        heap = [(f + floor + 1, k, (k,)) for k, f in enumerate(freqs)]
        heapq.heapify(heap)
        depth = [0] * len(freqs)
        n = len(heap)
        while len(heap) > 1:
            a, b = heapq.heappop(heap), heapq.heappop(heap)
            for s in a[2] + b[2]:
                depth[s] += 1
            heapq.heappush(heap, (a[0] + b[0], n, a[2] + b[2]))
            n += 1
        if max(depth) <= limit:
            return depth
        floor = floor * 2 + 1


def canonical(lengths):
    """Canonical codes (RFC 1951 3.2.2) for the lengths."""
    codes, code = [0] * len(lengths), 0
    for length in range(1, 17):
        for s, l in enumerate(lengths):
            if l == length:
                codes[s] = code
                code += 1
        code <<= 1
    return codes


def implode(data, big, literal_tree):
    """LZ77 with Shannon-Fano trees: the canonical codes of their lengths, bits inverted."""
    low_bits = 7 if big else 6
    minimum = 3 if literal_tree else 2
    tokens = []
    hashes = {}
    i = 0
    while i < len(data):
        n, d = matches(data, i, 8192 if big else 4096, minimum + 63 + 255, hashes)
        if n >= minimum:
            tokens.append((n, d))
            for k in range(i, i + n):
                remember(data, k, hashes)
            i += n
        else:
            tokens.append((data[i], 0))
            remember(data, i, hashes)
            i += 1
    lit, lens, dists = [0] * 256, [0] * 64, [0] * 64
    for value, d in tokens:
        if d:
            lens[min(value - minimum, 63)] += 1
            dists[(d - 1) >> low_bits] += 1
        else:
            lit[value] += 1
    w = BitWriter()
    trees = []
    for freqs, present in ((lit, literal_tree), (lens, True), (dists, True)):
        if not present:
            trees.append(None)
            continue
        lengths = code_lengths(freqs)
        runs = []
        for l in lengths:
            if runs and runs[-1][0] == l and runs[-1][1] < 16:
                runs[-1][1] += 1
            else:
                runs.append([l, 1])
        w.put(len(runs) - 1, 8)
        for l, n in runs:
            w.put((n - 1) << 4 | (l - 1), 8)
        trees.append((lengths, canonical(lengths)))

    def put_code(tree, symbol):
        lengths, codes = tree
        for b in range(lengths[symbol] - 1, -1, -1):
            w.put(1 - ((codes[symbol] >> b) & 1), 1)

    for value, d in tokens:
        if not d:
            w.put(1, 1)
            if literal_tree:
                put_code(trees[0], value)
            else:
                w.put(value, 8)
            continue
        w.put(0, 1)
        w.put((d - 1) & ((1 << low_bits) - 1), low_bits)
        put_code(trees[2], (d - 1) >> low_bits)
        length = value - minimum
        put_code(trees[1], min(length, 63))
        if length >= 63:
            w.put(length - 63, 8)
    return w.done()


METHODS = {
    "shrink": (1, 0, shrink),
    "implode4k": (6, 0, lambda d: implode(d, False, False)),
    "implode8k": (6, 2, lambda d: implode(d, True, False)),
    "implode4k-lit": (6, 4, lambda d: implode(d, False, True)),
    "implode8k-lit": (6, 6, lambda d: implode(d, True, True)),
    "zstd": (93, 0, lambda d: subprocess.run(["zstd", "-q", "-c", "-3"], input=d, stdout=subprocess.PIPE,
                                             check=True).stdout),
}
METHODS["zstd-long"] = (93, 0, lambda d: subprocess.run(["zstd", "-q", "-c", "--long=28"], input=d,
                                                       stdout=subprocess.PIPE, check=True).stdout)
METHODS["wavpack"] = (97, 0, lambda d: d)
for f in range(1, 5):
    METHODS["reduce%d" % f] = (1 + f, 0, lambda d, f=f: reduce(d, f))


def write_zip(path, name, method, flags, data, packed):
    crc = zlib.crc32(data)
    name = name.encode()
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0, 0x21, crc, len(packed), len(data),
                        len(name), 0) + name
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, 0, 0x21, crc, len(packed),
                          len(data), len(name), 0, 0, 0, 0, 0, 0) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local) + len(packed), 0)
    with open(path, "wb") as f:
        f.write(local + packed + central + end)


def damage(source, target, how):
    z = open(source, "rb").read()
    (sig, _, flags, method, _, _, crc, packed_size, size, name_len, extra_len) = struct.unpack_from("<IHHHHHIIIHH", z)
    assert sig == 0x04034B50
    name = z[30:30 + name_len].decode()
    # Sizes from the central directory: a streaming writer leaves them out of the local header.
    cd = z.rfind(b"PK\x01\x02")
    crc, packed_size, size = struct.unpack_from("<III", z, cd + 16)
    start = 30 + name_len + extra_len
    packed = bytearray(z[start:start + packed_size])
    if how == "cut":
        packed = packed[:len(packed) * 6 // 10]
    elif how == "empty":
        packed = b""
    else:
        packed[len(packed) // 2] ^= 0x5A
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags & ~8, method, 0, 0x21, crc, len(packed), size,
                        name_len, 0) + name.encode()
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags & ~8, method, 0, 0x21, crc, len(packed),
                          size, name_len, 0, 0, 0, 0, 0, 0) + name.encode()
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local) + len(packed), 0)
    with open(target, "wb") as f:
        f.write(local + packed + central + end)


def big64(size, target):
    import random
    seed = random.Random(64).randbytes(65536)
    w = BitWriter()

    def huffman(code, bits):  # prefix codes go most significant bit first
        for b in range(bits - 1, -1, -1):
            w.put((code >> b) & 1, 1)

    for half in (seed[:32768], seed[32768:]):
        w.put(0, 3)  # not final, stored
        w.align()
        w.put(32768, 16)
        w.put(32768 ^ 0xFFFF, 16)
        for c in half:
            w.put(c, 8)
    w.put(1, 1)  # final, fixed codes
    w.put(1, 2)
    left = size - 65536
    pos = 65536
    while left > 0:
        if left >= 3:
            n = min(left, 65538)
            huffman(0b11000101, 8)  # 285
            w.put(n - 3, 16)
            huffman(31, 5)  # distance 49153 + 16383
            w.put(16383, 14)
        else:
            n = 1
            c = seed[pos % 65536]
            huffman(0x30 + c, 8) if c < 144 else huffman(0x190 + c - 144, 9)
        left -= n
        pos += n
    huffman(0, 7)  # end of block
    crc, done = 0, 0
    while done < size:
        n = min(65536, size - done)
        crc = zlib.crc32(seed[:n], crc)
        done += n
    packed = w.done()
    name = b"big.bin"
    zip64 = struct.pack("<HHQQ", 1, 16, size, len(packed))
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 9, 0, 0x21, crc, 0xFFFFFFFF, 0xFFFFFFFF, len(name),
                        len(zip64)) + name + zip64
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 9, 0, 0x21, crc, 0xFFFFFFFF, 0xFFFFFFFF,
                          len(name), len(zip64), 0, 0, 0, 0, 0) + name + zip64
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local) + len(packed), 0)
    with open(target, "wb") as f:
        f.write(local + packed + central + end)


if __name__ == "__main__":
    if sys.argv[1] == "write":
        method, flags, encode = METHODS[sys.argv[2]]
        data = open(sys.argv[3], "rb").read()
        write_zip(sys.argv[4], sys.argv[3].rsplit("/", 1)[-1], method, flags, data, encode(data))
    elif sys.argv[1] == "big64":
        big64(int(sys.argv[2]), sys.argv[3])
    else:
        damage(sys.argv[2], sys.argv[3], sys.argv[4])
