#!/usr/bin/env bash
# Add, extract and delete speed, side by side in one run on a ~300 MB corpus:
#   pellux-cli add --recurse --dir-names --level 9   against  zip -r -9
#   pellux-cli extract                               against  unzip   (the same archive)
#   pellux-cli delete of 10 entries                  against  zip -d
# Each pair runs alternately, RUNS times, from a flushed page cache state; prints wall
# time (median), the ratio pellux/peer, peak memory, and the archive size against
# zip -9. Targets: ratio <= 1.0, size within 1 %, memory under 200 MB.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build/release}
RUNS=${RUNS:-3}
DELETE_RUNS=${DELETE_RUNS:-9} # short runs: more of them for a steady median
if [ ! -x "$BUILD/bin/pellux-cli" ] || [ ! -f "$BUILD/bin/libpxzip.so" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  ninja -C "$BUILD" pellux-cli pellux_pxzip pellux_pxunz
fi
CLI=$BUILD/bin/pellux-cli
WORK=${WORK:-$ROOT/build/bench/ops}
CORPUS=$WORK/corpus
mkdir -p "$WORK"
if [ ! -f "$WORK/corpus.done" ]; then
  rm -rf "$CORPUS"
  echo "making the corpus in $CORPUS ..."
  python3 bench/make_corpus.py "$CORPUS"
  touch "$WORK/corpus.done"
fi
echo "corpus: $(find "$CORPUS" -type f | wc -l) files, $(du -sm "$CORPUS" | cut -f1) MB"
find "$CORPUS" -type f -print0 | xargs -0 cat >/dev/null # warm the page cache for both

# once SETUP COMMAND: runs SETUP, flushes dirty pages (so no run pays for the one
# before), then times COMMAND in $WORK; prints "ms kb" (wall time, peak resident memory).
once() {
  (cd "$WORK" && eval "$1")
  sync
  local s e
  s=$(date +%s%N)
  (cd "$WORK" && /usr/bin/time -f "%M" -o "$WORK/mem.txt" bash -c "$2" >/dev/null 2>"$WORK/err.txt") ||
    { echo "failed: $2" >&2; cat "$WORK/err.txt" >&2; exit 1; }
  e=$(date +%s%N)
  echo "$(( (e - s) / 1000000 )) $(tail -1 "$WORK/mem.txt")"
}

# pair PEER PEER_SETUP PEER_COMMAND MINE MINE_SETUP MINE_COMMAND: alternates the two
# RUNS (or RUNS_NOW) times and prints "name median_ms kb" for each.
pair() {
  local a=$WORK/a.txt b=$WORK/b.txt runs=${RUNS_NOW:-$RUNS}
  : >"$a"
  : >"$b"
  for _ in $(seq "$runs"); do
    once "$2" "$3" >>"$a"
    once "$5" "$6" >>"$b"
  done
  for f in "$1:$a" "$4:$b"; do
    sort -n "${f#*:}" | awk -v n="${f%%:*}" '{t[NR]=$1; m[NR]=$2} END {i=int((NR+1)/2); print n, t[i], m[i]}'
  done
}

ln -sfn corpus "$WORK/c" # both tools store names starting "c/"
results=$WORK/results.txt
{
  pair zip_add "rm -f z.zip" "zip -r -9 -q z.zip c" \
       px_add "rm -f p.zip" "'$CLI' add p.zip --recurse --dir-names --level 9 c"
  pair unzip_extract "rm -rf outz" "unzip -q z.zip -d outz" \
       px_extract "rm -rf outp" "'$CLI' extract z.zip -d outp"
} >"$results"

# Ten entries spread over the archive.
mapfile -t victims < <(unzip -Z1 "$WORK/z.zip" | grep -v '/$' | awk 'NR % 2000 == 1' | head -10)
quoted=$(printf "'%s' " "${victims[@]}")
RUNS_NOW=$DELETE_RUNS pair zip_delete "cp z.zip zd.zip" "zip -q -d zd.zip $quoted" \
     px_delete "cp z.zip pd.zip" "'$CLI' delete pd.zip $quoted" >>"$results"

# Correctness of what was measured.
unzip -tqq "$WORK/p.zip" >/dev/null
diff -r "$WORK/outz" "$WORK/outp" >/dev/null
cmp <(unzip -Z1 "$WORK/zd.zip") <(unzip -Z1 "$WORK/pd.zip") >/dev/null

zsize=$(stat -c %s "$WORK/z.zip")
psize=$(stat -c %s "$WORK/p.zip")
awk -v zs="$zsize" -v ps="$psize" '
  {t[$1]=$2; m[$1]=$3}
  function row(op, peer, mine) {
    printf "%-8s  %-14s %8d ms %7.1f MB   pellux %8d ms %7.1f MB   ratio %.2f\n",
           op, peer, t[peer], m[peer]/1024, t[mine], m[mine]/1024, t[mine]/t[peer]
  }
  END {
    row("add", "zip_add", "px_add")
    row("extract", "unzip_extract", "px_extract")
    row("delete", "zip_delete", "px_delete")
    printf "size      zip -9 %d bytes, pellux %d bytes (%+.2f %%)\n", zs, ps, (ps - zs) * 100 / zs
  }' "$results"
