#!/usr/bin/env bash
# The main-window tests that need a window manager framing windows, on Xvfb and twm:
#   tests/app/wm-check.sh BUILD_DIR
# On the offscreen platform the frame test skips itself.
set -euo pipefail
BUILD=${1:?build directory}
WORK=$(mktemp -d)
XVFB= WM=
trap 'kill $WM $XVFB 2>/dev/null || true; rm -rf "$WORK"' EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XVFB=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
export DISPLAY=":$(cat "$WORK/display")" QT_QPA_PLATFORM=xcb LC_ALL=C
# Without RandomPlacement twm waits for the user to place each new window.
printf 'RandomPlacement\nUsePPosition "on"\n' >"$WORK/twmrc"
twm -f "$WORK/twmrc" >/dev/null 2>&1 &
WM=$!
sleep 0.5
"$BUILD/bin/main_window_tests" --gtest_filter='WindowTest.FramedWindowKeepsItsOuterSize:WindowTest.*Startup*'
