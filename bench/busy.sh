#!/usr/bin/env bash
# The longest the desktop waits on Pellux during a long add (pellux-bench-busy): a 48 MB
# add at level 9 on one worker (MB=N for another size), RUNS times (3 unless told). The
# status window pumps the event loop every 20 ms of work; a gap far beyond that means a
# step of the work that reports no progress.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build/release}
RUNS=${RUNS:-3}
if [ ! -x "$BUILD/bin/pellux-bench-busy" ] || [ ! -f "$BUILD/bin/libpxzip.so" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  ninja -C "$BUILD" pellux-bench-busy pellux_pxzip
fi
for _ in $(seq "$RUNS"); do
  "$BUILD/bin/pellux-bench-busy" "${MB:-48}"
done
