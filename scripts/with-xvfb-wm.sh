#!/usr/bin/env bash
# Runs one command on a fresh virtual X server with the plain twm window manager, for
# the tests that need windows framed by a real window manager:
#   scripts/with-xvfb-wm.sh COMMAND [ARG...]
# The command sees DISPLAY, QT_QPA_PLATFORM=xcb and PELLUX_TEST_WM_PID (twm's pid).
set -euo pipefail
WORK=$(mktemp -d)
XVFB= WM=
trap 'kill $WM $XVFB 2>/dev/null || true; rm -rf "$WORK"' EXIT
# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XVFB=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
[ -s "$WORK/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$WORK/display")" QT_QPA_PLATFORM=xcb LC_ALL=C
# Without RandomPlacement twm grabs the server until the user places a new window
# that has no position of its own.
printf 'RandomPlacement\nUsePPosition "on"\n' >"$WORK/twmrc"
twm -f "$WORK/twmrc" >/dev/null 2>&1 &
WM=$!
sleep 0.5
PELLUX_TEST_WM_PID=$WM "$@"
