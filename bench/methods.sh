#!/usr/bin/env bash
# Extraction speed per compression method, side by side in one run: pellux-cli extract
# against 7z x on the same archive, one ~100 MB entry each (SIZE_MB). Prints the wall
# time (best of RUNS, the two taking turns) of both and the ratio pellux/7z; the
# target is ratio <= 1.0. `uptime` closes the table: the machine's load at the time.
# AES-256 is a deflate entry encrypted by 7z; both tools are given its password.
# The methods no tool here writes come from the test encoders, which are slow: their
# entries are OLD_MB only.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build/release}
RUNS=${RUNS:-3}
SIZE_MB=${SIZE_MB:-100}
OLD_MB=${OLD_MB:-4}
ONLY=${ONLY:-} # a regular expression: only the methods it matches
if [ ! -x "$BUILD/bin/pellux-cli" ] || [ ! -f "$BUILD/bin/libpxunz.so" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  ninja -C "$BUILD" pellux-cli pellux_pxzip pellux_pxunz
fi
CLI=$BUILD/bin/pellux-cli
ENCODE="python3 $ROOT/tests/libs/method_zip.py write"
# The encrypted entry's password: pellux-cli reads it from a file, 7z from its -p.
PASSWORD=pellux-bench
WORK=${WORK:-$ROOT/build/bench/methods}
mkdir -p "$WORK"
cd "$WORK"

# Text-like words with stretches of noise: compresses about as real files do.
make_source() { # MB FILE
  python3 - "$1" "$2" <<'PY'
import random, sys
r = random.Random(7)
words = [bytes(r.choice(b"etaoinshrdlucmfwyp") for _ in range(r.randint(2, 10))) for _ in range(5000)]
size = int(sys.argv[1]) << 20
with open(sys.argv[2], "wb") as f:
    done = 0
    while done < size:
        chunk = b" ".join(r.choices(words, k=20000)) + r.randbytes(r.randint(0, 30000))
        f.write(chunk[:size - done])
        done += len(chunk)
PY
}
[ -f src.bin ] || make_source "$SIZE_MB" src.bin
[ -f old.bin ] || make_source "$OLD_MB" old.bin
printf '%s\n' "$PASSWORD" >password.txt

# The archives: NAME, then the command that writes NAME.zip from src.bin or old.bin.
ARCHIVES=(
  "deflate|7z a -tzip -mm=Deflate -bd -bso0 deflate.zip src.bin"
  "AES-256|7z a -tzip -mm=Deflate -mem=AES256 -p$PASSWORD -bd -bso0 AES-256.zip src.bin"
  "Deflate64|7z a -tzip -mm=Deflate64 -bd -bso0 Deflate64.zip src.bin"
  "bzip2|7z a -tzip -mm=BZip2 -bd -bso0 bzip2.zip src.bin"
  "LZMA|7z a -tzip -mm=LZMA -bd -bso0 LZMA.zip src.bin"
  "PPMd|7z a -tzip -mm=PPMd -bd -bso0 PPMd.zip src.bin"
  "zstd|$ENCODE zstd src.bin zstd.zip"
  "shrink|$ENCODE shrink old.bin shrink.zip"
  "reduce4|$ENCODE reduce4 old.bin reduce4.zip"
  "implode|$ENCODE implode8k-lit old.bin implode.zip"
)

# Times one run of COMMAND in milliseconds into the variable named NAME, keeping the
# lower of it and what NAME holds; "-" once a run failed.
time_into() { # NAME COMMAND
  local s e t
  [ "${!1}" = "-" ] && return
  rm -rf out && mkdir out
  sync
  s=$(date +%s%N)
  if ! bash -c "$2" >/dev/null 2>err.txt; then
    echo "failed: $2" >&2
    cat err.txt >&2
    printf -v "$1" '%s' "-"
    return
  fi
  e=$(date +%s%N)
  t=$(((e - s) / 1000000))
  if [ -z "${!1}" ] || [ "$t" -lt "${!1}" ]; then printf -v "$1" '%s' "$t"; fi
}
seconds() { [ "$1" = "-" ] && echo "-" || printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }

printf '%-10s %8s %10s %10s %7s\n' method MB pellux-s 7z-s ratio
for item in "${ARCHIVES[@]}"; do
  name=${item%%|*}
  command=${item#*|}
  [[ -z "$ONLY" || "$name" =~ $ONLY ]] || continue
  [ -f "$name.zip" ] || eval "$command"
  mb=$(python3 -c "import zipfile,sys; print(zipfile.ZipFile(sys.argv[1]).infolist()[0].file_size >> 20)" "$name.zip")
  # The two tools take turns, each going first every other run: a change in the load
  # of a shared machine then falls on both.
  pm="" zm=""
  for run in $(seq "$RUNS"); do
    if ((run % 2)); then
      time_into pm "$CLI extract $name.zip -d out --password-file password.txt"
      time_into zm "7z x -y -bd -p$PASSWORD -oout $name.zip"
    else
      time_into zm "7z x -y -bd -p$PASSWORD -oout $name.zip"
      time_into pm "$CLI extract $name.zip -d out --password-file password.txt"
    fi
  done
  p=$(seconds "$pm")
  z=$(seconds "$zm")
  ratio=$(python3 -c "import sys; a, b = sys.argv[1:]; print('%.2f' % (float(a) / float(b)) if '-' not in (a, b) else '-')" "$p" "$z")
  printf '%-10s %8s %10s %10s %7s\n' "$name" "$mb" "$p" "$z" "$ratio"
done
rm -rf out
uptime
