#!/usr/bin/env bash
# The dialog tests that need a window manager framing windows, on Xvfb and twm:
#   tests/dialogs/wm-check.sh BUILD_DIR
# Elsewhere (the offscreen platform, or no window manager) those tests skip themselves.
set -euo pipefail
BUILD=${1:?build directory}
WORK=$(mktemp -d)
XVFB= WM=
trap 'kill $WM $XVFB 2>/dev/null || true; rm -rf "$WORK"' EXIT
# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XVFB=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
export DISPLAY=":$(cat "$WORK/display")" QT_QPA_PLATFORM=xcb
# Without RandomPlacement twm grabs the server until the user places a new window
# that has no position of its own.
printf 'RandomPlacement\nUsePPosition "on"\n' >"$WORK/twmrc"
twm -f "$WORK/twmrc" >/dev/null 2>&1 &
WM=$!
sleep 0.5
# Run alone, so that the status window starts without a frame learnt before; the test
# holds twm for a moment to see the window through a slow window manager.
PELLUX_TEST_WM_PID=$WM "$BUILD/bin/dialogs_tests" --gtest_filter='StatusWindow.FramedOuterSizeHoldsWhileTheCallerIsBusy'
