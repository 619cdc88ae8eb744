#!/usr/bin/env bash
# Shows zip2exe's message window under Xvfb as the wizard starts it (no terminal, a new
# session) and saves a picture of it: tools/zip2exe/screenshot.sh BUILD_DIR [OUT.png]
set -euo pipefail
BIN=$(realpath "$1")/bin
OUT=$(realpath -m "${2:-docs/zip2exe-message.png}")
WORK=$(mktemp -d)
DISPLAY_NUMBER=:91
pids=()
cleanup() { for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done; rm -rf "$WORK"; }
trap cleanup EXIT

Xvfb "$DISPLAY_NUMBER" -screen 0 800x500x24 >/dev/null 2>&1 & pids+=($!)
sleep 1
DISPLAY=$DISPLAY_NUMBER twm >/dev/null 2>&1 & pids+=($!)
sleep 1
mkdir -p "$WORK/photos"
python3 -c "import zipfile, sys; zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED).writestr('a.txt', 'x' * 10000)" \
  "$WORK/photos.zip"
DISPLAY=$DISPLAY_NUMBER setsid "$BIN/zip2exe" "$WORK/photos.zip" "$WORK/photos" </dev/null & pids+=($!)
sleep 3
# The desktop is black; trimming it leaves the window with its frame.
DISPLAY=$DISPLAY_NUMBER import -window root "$WORK/root.png"
convert "$WORK/root.png" -trim +repage "$OUT"
echo "saved $OUT"
