#!/usr/bin/env bash
# Drives the real pellux window the way a person would, on Xvfb with twm, through
# xdotool (keyboard, and the mouse where a person would click), and checks the result
# on disk:
#   scripts/gui-smoke.sh [BUILD_DIR]        (default build/release, built by the caller)
# Steps: the startup chooser and "Ignore this screen"; File > New, Actions > Add with
# three files, Delete of one, Extract all into a directory made with "Create Dir";
# then pellux started on the archive. Screenshots of the windows go to
# $PELLUX_SMOKE_SHOTS (default BUILD_DIR/gui-smoke); PELLUX_SMOKE_SHOTS=docs refreshes
# the pictures in docs/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# Paths given are taken from where the caller stands.
BUILD=$(realpath -m "${1:-$ROOT/build/release}")
SHOTS=$(realpath -m "${PELLUX_SMOKE_SHOTS:-$BUILD/gui-smoke}")
APP=$BUILD/bin/pellux
CLI=$BUILD/bin/pellux-cli
cd "$ROOT"
WAIT=${PELLUX_SMOKE_WAIT:-20} # seconds any one window or outcome may take

STEP="setup"
fail() {
  echo "gui-smoke: FAILED in step \"$STEP\": $*" >&2
  if [ -n "${DISPLAY:-}" ]; then
    import -window root "$SHOTS/failure.png" 2>/dev/null && echo "gui-smoke: screen at the failure: $SHOTS/failure.png" >&2
  fi
  [ -s "${WORK:-/nonexistent}/app.log" ] && { echo "--- pellux output:" >&2; tail -n 20 "$WORK/app.log" >&2; }
  exit 1
}
for tool in Xvfb twm xdotool import xwininfo; do
  command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/install-deps.sh)"
done
if [ ! -x "$APP" ] || [ ! -x "$CLI" ]; then fail "no $APP or $CLI: build the project first"; fi
mkdir -p "$SHOTS"
rm -f "$SHOTS/failure.png"

WORK=$(mktemp -d /tmp/pellux-smoke.XXXXXX)
XVFB='' WM='' PID=''
cleanup() {
  for p in $PID $WM $XVFB; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# A fresh home: no file dialog history, no desktop settings, and no desktop
# environment, so Qt shows its own widget-based file dialogs.
mkdir -p "$WORK"/home/{.config,.cache,.local/share,.local/state} "$WORK/run"
chmod 700 "$WORK/run"
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config XDG_CACHE_HOME=$WORK/home/.cache \
  XDG_DATA_HOME=$WORK/home/.local/share XDG_STATE_HOME=$WORK/home/.local/state XDG_RUNTIME_DIR=$WORK/run \
  QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 TZ=UTC
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE SESSION_MANAGER \
  DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XVFB=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
[ -s "$WORK/display" ] || fail "Xvfb did not start"
DISPLAY=":$(cat "$WORK/display")"
export DISPLAY
# RandomPlacement: otherwise twm grabs the server until a new window is placed by hand.
printf 'RandomPlacement\nUsePPosition "on"\n' >"$WORK/twmrc"
twm -f "$WORK/twmrc" >/dev/null 2>&1 &
WM=$!
# twm gives the keyboard to the window under the pointer; parked on the bare root
# (no window is placed down there) it leaves alone the focus this script sets.
PARK_X=1020 PARK_Y=760
park() { xdotool mousemove "$PARK_X" "$PARK_Y"; }

alive() { [ -z "$PID" ] || kill -0 "$PID" 2>/dev/null || fail "pellux is gone (crashed or quit)"; }

# wait_window REGEX: the id of the first visible window whose whole title matches.
wait_window() {
  local end=$((SECONDS + WAIT)) wid
  while :; do
    alive
    wid=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && { echo "$wid"; return; }
    ((SECONDS < end)) || fail "no window titled \"$1\" within ${WAIT}s"
    sleep 0.1
  done
}

viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

wait_gone() { # WID WHAT
  local end=$((SECONDS + WAIT))
  while viewable "$1"; do
    ((SECONDS < end)) || fail "$2 is still open after ${WAIT}s"
    sleep 0.1
  done
}

# focus WID: gives the window the keyboard, as a click on it would.
focus() {
  local end=$((SECONDS + WAIT))
  while :; do
    alive
    xdotool windowfocus "$1" 2>/dev/null || true
    [ "$(xdotool getwindowfocus 2>/dev/null || true)" = "$1" ] && return
    ((SECONDS < end)) || fail "window $1 does not take the keyboard"
    sleep 0.1
  done
}

keys() { local wid=$1; shift; focus "$wid"; xdotool key --delay 60 "$@"; }
typing() { focus "$1"; xdotool type --delay 25 "$2"; }

# shot WID NAME: the window alone, once two pictures in a row agree (it has painted).
shot() {
  local previous="$WORK/shot-a.png" current="$WORK/shot-b.png"
  rm -f "$previous"
  for _ in $(seq 30); do
    import -window "$1" -strip "png:$current" 2>/dev/null || true
    if [ -s "$current" ] && cmp -s "$current" "$previous"; then
      cp "$current" "$SHOTS/$2"
      return
    fi
    mv "$current" "$previous" 2>/dev/null || true
    sleep 0.15
  done
  [ -s "$previous" ] || fail "no screenshot of window $1"
  cp "$previous" "$SHOTS/$2"
}

# wait_listing ARCHIVE NAME...: the archive holds exactly these entries. The order is
# the file dialog's, which depends on when its folder view has loaded.
wait_listing() {
  local archive=$1 end=$((SECONDS + WAIT)) want got
  shift
  want=$(printf '%s\n' "$@" | sort)
  while :; do
    alive
    got=$("$CLI" list "$archive" 2>/dev/null | cut -f1 | sort || true)
    [ "$got" = "$want" ] && return
    ((SECONDS < end)) || fail "$archive lists [${got//$'\n'/ }], expected [$*]"
    sleep 0.1
  done
}

# The files to add; fixed times make the listing, and so the pictures, the same each run.
SRC=$WORK/files
mkdir -p "$SRC"
printf 'Pellux smoke test\n' >"$SRC/notes.txt"
head -c 70000 /dev/urandom >"$SRC/random.bin"
seq 1 30000 >"$SRC/numbers.txt"
touch -d '2024-05-17 10:30' "$SRC"/*
ARCHIVE=$WORK/smoke.zip
OUT=$WORK/extracted

start_pellux() {
  (cd "$WORK" && exec "$APP" "$@") >>"$WORK/app.log" 2>&1 &
  PID=$!
}

# Waits for pellux to end by itself; fails if it does not.
wait_exit() {
  local end=$((SECONDS + WAIT))
  while kill -0 "$PID" 2>/dev/null; do
    ((SECONDS < end)) || fail "pellux did not exit within ${WAIT}s"
    sleep 0.1
  done
  wait "$PID" || fail "pellux exited with status $?"
  PID=
}

# ---------------------------------------------------------------------------------
STEP="1 startup chooser"
park
start_pellux
MAIN=$(wait_window "Pellux ")
CHOOSER=$(wait_window "Starting Pellux ")
shot "$CHOOSER" smoke-1-startup.png
# "Ignore this screen" is the third button, 25x25 at (56,144) in the chooser.
xdotool mousemove --window "$CHOOSER" 68 156 click 1
park
wait_gone "$CHOOSER" "the startup chooser"
alive

STEP="2a File > New ZIP archive"
keys "$MAIN" alt+f n
SAVE=$(wait_window 'Save new ZIP archive as\.\.\.')
# No .zip typed: the command completes the name.
typing "$SAVE" "$WORK/smoke"
shot "$SAVE" smoke-2-new.png
keys "$SAVE" Return
wait_gone "$SAVE" "the save dialog"
[ ! -e "$ARCHIVE" ] || fail "a new archive exists before anything was added"

STEP="2b Actions > Add > Add file(s)"
keys "$MAIN" alt+f Right Right Return
ADD=$(wait_window 'Add file\(s\) to ZIP archive')
# A directory typed into the name field opens it; then the three names, quoted.
typing "$ADD" "$SRC"
keys "$ADD" Return
typing "$ADD" '"notes.txt" "random.bin" "numbers.txt"'
shot "$ADD" smoke-3-add.png
keys "$ADD" Return
wait_gone "$ADD" "the add-files dialog"
wait_listing "$ARCHIVE" notes.txt random.bin numbers.txt
shot "$MAIN" smoke-4-listing.png
# The listing keeps the archive's order: the second row is the archive's second entry.
mapfile -t ENTRIES < <("$CLI" list "$ARCHIVE" | cut -f1)
DELETED=${ENTRIES[1]}
KEPT=("${ENTRIES[0]}" "${ENTRIES[2]}")

STEP="2c Actions > Delete"
# Click into the list below the rows, then select the second row by keyboard.
eval "$(xdotool getwindowgeometry --shell "$MAIN")"
xdotool mousemove --window "$MAIN" $((WIDTH / 2)) $((HEIGHT - 60)) click 1
park
keys "$MAIN" Home Down
shot "$MAIN" smoke-5-selected.png
keys "$MAIN" alt+f Right Down Right Return
CONFIRM=$(wait_window "Pellux")
shot "$CONFIRM" smoke-6-confirm.png
keys "$CONFIRM" alt+y
wait_gone "$CONFIRM" "the delete confirmation"
wait_listing "$ARCHIVE" "${KEPT[@]}"

STEP="2d Actions > Extract > Extract all"
keys "$MAIN" alt+f Right Down Down Right a
DIRBOX=$(wait_window 'Extract all file\(s\) to directory\.\.')
# The chooser opens in the program's directory. From the root, each level by
# type-ahead and Return; the list joins keys less than 0.4 s apart into one search,
# hence the pauses. Create Dir then shows where the chooser is; a slow machine gets
# another try with longer pauses.
IFS=/ read -r -a LEVELS <<<"${WORK#/}"
arrived=
for pause in 0.6 1.2 2; do
  keys "$DIRBOX" Home Return
  for level in "${LEVELS[@]}"; do
    sleep "$pause"
    typing "$DIRBOX" "$level"
    keys "$DIRBOX" Return
  done
  sleep "$pause"
  keys "$DIRBOX" alt+d
  CREATE=$(wait_window '/.*')
  if [ "$(xdotool getwindowname "$CREATE")" = "$WORK" ]; then
    arrived=1
    break
  fi
  echo "gui-smoke: the directory chooser went astray; again, with longer pauses" >&2
  keys "$CREATE" Escape
  wait_gone "$CREATE" "the create-directory dialog"
done
[ -n "$arrived" ] || fail "the directory chooser did not reach $WORK by keyboard"
typing "$CREATE" extracted
keys "$CREATE" Return
wait_gone "$CREATE" "the create-directory dialog"
[ -d "$OUT" ] || fail "Create Dir did not make $OUT"
shot "$DIRBOX" smoke-7-extract.png
keys "$DIRBOX" alt+o
wait_gone "$DIRBOX" "the directory chooser"
DONE=$(wait_window "Pellux")
shot "$DONE" smoke-8-extracted.png
keys "$DONE" Return
wait_gone "$DONE" "the extraction message"
for name in "${KEPT[@]}"; do
  cmp "$SRC/$name" "$OUT/$name" || fail "$OUT/$name differs from the file added"
done
[ ! -e "$OUT/$DELETED" ] || fail "the deleted entry $DELETED was extracted"
[ "$(find "$OUT" -mindepth 1 | wc -l)" -eq 2 ] || fail "$OUT holds more than the two files: $(ls "$OUT")"

STEP="2e File > Exit"
keys "$MAIN" alt+f x
wait_exit

STEP="3 pellux ARCHIVE"
start_pellux "$ARCHIVE"
MAIN=$(wait_window "Pellux ")
# The chooser would open on a 100 ms timer after the window shows; watch for 2 s.
for _ in $(seq 20); do
  [ -z "$(xdotool search --onlyvisible --name '^Starting Pellux $' 2>/dev/null || true)" ] ||
    fail "the startup chooser appeared although an archive was given"
  sleep 0.1
done
shot "$MAIN" smoke-9-open.png
keys "$MAIN" alt+f x
wait_exit

echo "gui-smoke: all steps passed in ${SECONDS}s; screenshots in $SHOTS"
