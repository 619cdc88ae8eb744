#!/usr/bin/env bash
# Adding one large sparse file, side by side in one run: pellux-cli add --level 9 against
# zip -9. The file (SIZE, default 4500M) is all hole but for DATA_MB of text written at
# a few offsets, so more than 4 GiB makes its entry a ZIP64 one. The two run alternately
# RUNS times; prints the best wall time of each, the ratio pellux/zip, peak memory, the
# archive sizes and uptime. Both archives are then checked by unzip -t, 7z t and
# Python's zipfile, and pellux's is extracted and compared with the file by SHA-256.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build/release}
RUNS=${RUNS:-2}
SIZE=${SIZE:-4500M}
DATA_MB=${DATA_MB:-4}
WORK=${WORK:-$ROOT/build/bench/sparse}
if [ ! -x "$BUILD/bin/pellux-cli" ] || [ ! -f "$BUILD/bin/libpxzip.so" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  ninja -C "$BUILD" pellux-cli pellux_pxzip pellux_pxunz
fi
CLI=$(realpath "$BUILD/bin/pellux-cli")
mkdir -p "$WORK"
cd "$WORK"

# The file: holes, and DATA_MB pieces of 1 MB of text spread over it.
rm -f sparse.img
truncate -s "$SIZE" sparse.img
size_mb=$(( $(stat -c %s sparse.img) >> 20 ))
python3 - "$DATA_MB" "$size_mb" <<'EOF'
import random, sys
pieces, size_mb = int(sys.argv[1]), int(sys.argv[2])
rng = random.Random(4500)
words = "sparse hole extent block offset length data zero run entry archive".split()
with open("sparse.img", "r+b") as f:
    for i in range(pieces):
        f.seek((i * (size_mb - 2) // max(1, pieces - 1)) << 20 if pieces > 1 else 0)
        f.write(" ".join(rng.choice(words) for _ in range(200000)).encode()[:1 << 20])
EOF
echo "== sparse file: $(stat -c %s sparse.img) bytes, $(( $(stat -c %b sparse.img) * $(stat -c %B sparse.img) >> 20 )) MB allocated"

once() { # COMMAND: prints "ms kb"
  sync
  local s e
  s=$(date +%s%N)
  /usr/bin/time -f "%M" -o mem.txt bash -c "$1" >/dev/null 2>err.txt || { cat err.txt >&2; exit 1; }
  e=$(date +%s%N)
  echo "$(( (e - s) / 1000000 )) $(tail -1 mem.txt)"
}
: >zip.txt
: >px.txt
for _ in $(seq "$RUNS"); do
  rm -f z.zip
  once "zip -9 -q z.zip sparse.img" >>zip.txt
  rm -f p.zip
  once "'$CLI' add p.zip --level 9 sparse.img" >>px.txt
done
read -r zt zm < <(sort -n zip.txt | head -1)
read -r pt pm < <(sort -n px.txt | head -1)
uptime
printf "add -9  zip %7d ms %6.1f MB   pellux %7d ms %6.1f MB   ratio %.3f\n" \
  "$zt" "$(echo "$zm / 1024" | bc -l)" "$pt" "$(echo "$pm / 1024" | bc -l)" "$(echo "$pt / $zt" | bc -l)"
echo "size    zip $(stat -c %s z.zip), pellux $(stat -c %s p.zip)"

# What was measured is a correct archive of the same bytes.
for a in z.zip p.zip; do
  unzip -tqq "$a" >/dev/null
  7z t "$a" >/dev/null
  python3 -c "import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None" "$a"
done
want=$(sha256sum <sparse.img | cut -d' ' -f1)
got=$(unzip -p p.zip sparse.img | sha256sum | cut -d' ' -f1)
[ "$want" = "$got" ] || { echo "pellux's archive extracts to other bytes" >&2; exit 1; }
echo "checked: unzip -t, 7z t, zipfile; the extracted file's SHA-256 is the original's"
