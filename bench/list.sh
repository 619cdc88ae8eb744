#!/usr/bin/env bash
# Listing speed on a 100,000-entry archive (ENTRIES=N for another size), side by side in one run:
#   pellux-cli list  against  unzip -l   (median of 5 runs each, peak memory)
#   the main window (offscreen): OpenZipFile until all rows are shown, one sort by Size
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build/release}
if [ ! -x "$BUILD/bin/pellux-cli" ] || [ ! -x "$BUILD/bin/pellux-bench-window" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  ninja -C "$BUILD" pellux-cli pellux-bench-window
fi
WORK=$ROOT/build/bench
mkdir -p "$WORK"
ENTRIES=${ENTRIES:-100000}
ARCHIVE=$WORK/entries-$ENTRIES.zip
if [ ! -f "$ARCHIVE" ]; then
  python3 - "$ARCHIVE" "$ENTRIES" <<'PY'
import random, sys, zipfile
path, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(1)
words = [b"alpha", b"beta", b"gamma", b"delta", b"zip", b"entry", b"pellux", b"\n"]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for i in range(count):
        body = b" ".join(rng.choice(words) for _ in range(rng.randint(1, 60)))
        info = zipfile.ZipInfo(f"dir{i % 500:03d}/sub{i % 7}/file{i:06d}.txt",
                               (2000 + i % 25, 1 + i % 12, 1 + i % 28, i % 24, i % 60, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, body)
PY
fi

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
time_runs() { # prints the median wall time in ms of 5 runs of "$@"
  for _ in 1 2 3 4 5; do
    local s e
    s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N)
    echo $(( (e - s) / 1000000 ))
  done | median
}
peak_mb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1 | awk '{printf "%.1f", $1/1024}'; }

CLI_MS=$(time_runs "$BUILD/bin/pellux-cli" list "$ARCHIVE")
UNZIP_MS=$(time_runs unzip -l "$ARCHIVE")
CLI_MB=$(peak_mb "$BUILD/bin/pellux-cli" list "$ARCHIVE")
UNZIP_MB=$(peak_mb unzip -l "$ARCHIVE")
ROWS=$("$BUILD/bin/pellux-cli" list "$ARCHIVE" | wc -l)

echo "archive: $ARCHIVE ($(stat -c %s "$ARCHIVE") bytes, $ROWS rows listed)"
printf "%-28s %10s %10s\n" "" "wall ms" "peak MB"
printf "%-28s %10s %10s\n" "pellux-cli list" "$CLI_MS" "$CLI_MB"
printf "%-28s %10s %10s\n" "unzip -l" "$UNZIP_MS" "$UNZIP_MB"
awk -v a="$CLI_MS" -v b="$UNZIP_MS" 'BEGIN { printf "ratio pellux-cli / unzip: %.2f\n", (b > 0 ? a / b : 0) }'
echo "main window (offscreen):"
QT_QPA_PLATFORM=offscreen "$BUILD/bin/pellux-bench-window" "$ARCHIVE" 2>/dev/null | sed 's/^/  /'
