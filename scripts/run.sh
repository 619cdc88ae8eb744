#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Pellux and starts it on ARCHIVE (optional).
# Without a display it starts under Xvfb, saves a screenshot of the main window and
# says where.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLUX_BUILD_TESTS=OFF >/dev/null
ninja -C build/app
APP=$PWD/build/app/bin/pellux

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$APP" "$@"
fi

SHOT=${PELLUX_SCREENSHOT:-$PWD/build/pellux-main-window.png}
DISP=:$((90 + RANDOM % 100))
Xvfb "$DISP" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
trap 'kill "$APP_PID" 2>/dev/null || true; kill "$XVFB" 2>/dev/null || true' EXIT
for _ in $(seq 50); do DISPLAY=$DISP xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
DISPLAY=$DISP "$APP" "$@" &
APP_PID=$!
# Wait for the main window to be mapped, then photograph it.
WID=""
for _ in $(seq 100); do
  WID=$(DISPLAY=$DISP xwininfo -root -tree 2>/dev/null | awk '/"Pellux "/ {print $1; exit}')
  [ -n "$WID" ] && break
  sleep 0.1
done
sleep 1
if [ -n "$WID" ]; then
  DISPLAY=$DISP import -window "$WID" "$SHOT"
else
  DISPLAY=$DISP import -window root "$SHOT"
fi
echo "Pellux ran under Xvfb (no display was set); screenshot of the main window: $SHOT"
