#!/usr/bin/env bash
# Add, extract and delete speed, side by side in one run, on three corpora (make_corpus.py):
# "small", ~300 MB mostly of many small files, "large", ~340 MB in a few large files that
# mostly do not compress, and "mixed", ~310 MB of source files, already compressed media
# and two large compressible files. For each:
#   pellux-cli add --recurse --dir-names --level 9   against  zip -r -9
#   pellux-cli add ... --level 6                     against  zip -r -6
#   pigz -9 -p 2 on a tar of the same files          (the limit for deflate on 2 cores)
#   pellux-cli extract                               against  unzip   (the same archive)
#   pellux-cli delete of 10 entries                  against  zip -d
# Each pair runs alternately, RUNS times, from a flushed page cache state; prints the
# best wall time (the machine is shared: the best run is the least disturbed), the
# ratio pellux/peer, peak memory, and the archive sizes. CORPORA picks the corpora;
# they are made once under WORK_ROOT (default build/bench), never in the source tree.
# OPS=extract times only the extract pair (on z.zip, made by zip -r -9 if missing).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build/release}
RUNS=${RUNS:-3}
DELETE_RUNS=${DELETE_RUNS:-5}
CORPORA=${CORPORA:-small large mixed}
OPS=${OPS:-all}
if [ ! -x "$BUILD/bin/pellux-cli" ] || [ ! -f "$BUILD/bin/libpxzip.so" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  ninja -C "$BUILD" pellux-cli pellux_pxzip pellux_pxunz
fi
CLI=$BUILD/bin/pellux-cli

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
# RUNS (or RUNS_NOW) times and prints "name best_ms kb" for each.
pair() {
  local a=$WORK/a.txt b=$WORK/b.txt runs=${RUNS_NOW:-$RUNS}
  : >"$a"
  : >"$b"
  for _ in $(seq "$runs"); do
    once "$2" "$3" >>"$a"
    once "$5" "$6" >>"$b"
  done
  for f in "$1:$a" "$4:$b"; do
    sort -n "${f#*:}" | awk -v n="${f%%:*}" 'NR == 1 {print n, $1, $2}'
  done
}

single() { # NAME SETUP COMMAND: like pair, for one command
  local a=$WORK/a.txt
  : >"$a"
  for _ in $(seq "$RUNS"); do once "$2" "$3" >>"$a"; done
  sort -n "$a" | awk -v n="$1" 'NR == 1 {print n, $1, $2}'
}

bench_corpus() {
  local name=$1
  WORK=${WORK_ROOT:-$ROOT/build/bench}/ops-$name
  local corpus=$WORK/corpus
  mkdir -p "$WORK"
  if [ ! -f "$WORK/corpus.done" ]; then
    rm -rf "$corpus"
    echo "making the $name corpus in $corpus ..."
    python3 bench/make_corpus.py "$corpus" "$name"
    touch "$WORK/corpus.done"
  fi
  ln -sfn corpus "$WORK/c" # every tool stores names starting "c/"
  [ -f "$WORK/c.tar" ] || (cd "$WORK" && tar -chf c.tar c)
  echo "== $name corpus: $(find "$corpus" -type f | wc -l) files, $(du -sm "$corpus" | cut -f1) MB"
  find "$corpus" -type f -print0 | xargs -0 cat >/dev/null # warm the page cache for all

  local results=$WORK/results.txt
  if [ "$OPS" = extract ]; then
    [ -f "$WORK/z.zip" ] || (cd "$WORK" && zip -r -9 -q z.zip c)
    pair unzip_extract "rm -rf outz" "unzip -q z.zip -d outz" \
         px_extract "rm -rf outp" "'$CLI' extract z.zip -d outp" >"$results"
    diff -r "$WORK/outz" "$WORK/outp" >/dev/null
    awk '{t[$1]=$2; m[$1]=$3}
      END {printf "%-9s %-14s %7d ms %6.1f MB   pellux %7d ms %6.1f MB   ratio %.2f\n", "extract", "unzip_extract",
                  t["unzip_extract"], m["unzip_extract"]/1024, t["px_extract"], m["px_extract"]/1024,
                  t["px_extract"]/t["unzip_extract"]}' "$results"
    return
  fi
  {
    pair zip_add9 "rm -f z.zip" "zip -r -9 -q z.zip c" \
         px_add9 "rm -f p.zip" "'$CLI' add p.zip --recurse --dir-names --level 9 c"
    pair zip_add6 "rm -f z6.zip" "zip -r -6 -q z6.zip c" \
         px_add6 "rm -f p6.zip" "'$CLI' add p6.zip --recurse --dir-names --level 6 c"
    single pigz9 "rm -f c.tar.gz" "pigz -9 -p 2 -k c.tar"
    pair unzip_extract "rm -rf outz" "unzip -q z.zip -d outz" \
         px_extract "rm -rf outp" "'$CLI' extract z.zip -d outp"
  } >"$results"

  # Ten entries spread over the archive.
  local victims quoted count
  count=$(unzip -Z1 "$WORK/z.zip" | grep -vc '/$')
  mapfile -t victims < <(unzip -Z1 "$WORK/z.zip" | grep -v '/$' | awk -v step=$(( (count + 9) / 10 )) 'NR % step == 1' | head -10)
  quoted=$(printf "'%s' " "${victims[@]}")
  RUNS_NOW=$DELETE_RUNS pair zip_delete "cp z.zip zd.zip" "zip -q -d zd.zip $quoted" \
       px_delete "cp z.zip pd.zip" "'$CLI' delete pd.zip $quoted" >>"$results"

  # Correctness of what was measured.
  unzip -tqq "$WORK/p.zip" >/dev/null
  unzip -tqq "$WORK/p6.zip" >/dev/null
  diff -r "$WORK/outz" "$WORK/outp" >/dev/null
  cmp <(unzip -Z1 "$WORK/zd.zip") <(unzip -Z1 "$WORK/pd.zip") >/dev/null

  awk -v z9="$(stat -c %s "$WORK/z.zip")" -v p9="$(stat -c %s "$WORK/p.zip")" \
      -v z6="$(stat -c %s "$WORK/z6.zip")" -v p6="$(stat -c %s "$WORK/p6.zip")" \
      -v gz="$(stat -c %s "$WORK/c.tar.gz")" '
    {t[$1]=$2; m[$1]=$3}
    function row(op, peer, mine) {
      printf "%-9s %-14s %7d ms %6.1f MB   pellux %7d ms %6.1f MB   ratio %.2f\n",
             op, peer, t[peer], m[peer]/1024, t[mine], m[mine]/1024, t[mine]/t[peer]
    }
    END {
      row("add -9", "zip_add9", "px_add9")
      row("add -6", "zip_add6", "px_add6")
      printf "%-9s %-14s %7d ms %6.1f MB   (%.2f of zip -9)\n", "limit", "pigz -9 -p 2", t["pigz9"], m["pigz9"]/1024,
             t["pigz9"]/t["zip_add9"]
      row("extract", "unzip_extract", "px_extract")
      row("delete", "zip_delete", "px_delete")
      printf "size -9   zip %d, pellux %d (%+.2f %%), pigz %d\n", z9, p9, (p9 - z9) * 100 / z9, gz
      printf "size -6   zip %d, pellux %d (%+.2f %%)\n", z6, p6, (p6 - z6) * 100 / z6
    }' "$results"
}

for corpus in $CORPORA; do
  bench_corpus "$corpus"
done
