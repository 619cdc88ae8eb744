#!/usr/bin/env bash
# Pictures of every dialog for docs/dialogs.md, taken on a virtual X server with a
# plain window manager so that the title bars show (and the program icon's sizes for
# dist/linux/icons/):
#   tests/dialogs/screenshots.sh BUILD_DIR [OUT_DIR]
set -euo pipefail
BUILD=${1:?build directory}
OUT=$(realpath "${2:-$(dirname "$0")/../../docs}")
DISPLAY_NUMBER=${PELLUX_SHOTS_DISPLAY:-77}
Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp &
XVFB=$!
trap 'kill $XVFB 2>/dev/null || true' EXIT
sleep 1
export DISPLAY=":$DISPLAY_NUMBER" QT_QPA_PLATFORM=xcb
if command -v twm >/dev/null; then
  twm >/dev/null 2>&1 &
  sleep 1
fi
"$BUILD/bin/pellux_dialog_shots" "$OUT" "$(realpath "$(dirname "$0")/../../dist/linux/icons")"
