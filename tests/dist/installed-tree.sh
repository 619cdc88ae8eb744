#!/usr/bin/env bash
# Installs a build into a temporary prefix and uses it from there, as a user would:
#   tests/dist/installed-tree.sh BUILD_DIR
# The programs, their libraries and the desktop files are where the menu, the icon
# theme and software centres look, the desktop files validate, and the installed
# programs run without the build tree (every library they load comes from the prefix).
set -euo pipefail
BUILD=$(realpath "${1:?build directory}")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
P=$WORK/prefix
fail() { echo "installed-tree: $*" >&2; exit 1; }

cmake --install "$BUILD" --prefix "$P" >/dev/null

for f in lib/pellux/pellux lib/pellux/pellux-cli lib/pellux/libpxzip.so lib/pellux/libpxunz.so \
         bin/pellux bin/pellux-cli share/applications/pellux.desktop \
         share/metainfo/org.example.pellux.metainfo.xml share/icons/hicolor/scalable/apps/pellux.svg \
         share/icons/hicolor/48x48/apps/pellux.png share/man/man1/pellux-cli.1.gz share/man/man1/pellux.1.gz \
         share/man/man1/zip2exe.1.gz share/doc/pellux/copyright share/doc/pellux/changelog.gz \
         share/bash-completion/completions/pellux-cli; do
  [ -e "$P/$f" ] || fail "$f is not installed"
done
[ ! -e "$BUILD/bin/zip2exe" ] || [ -x "$P/lib/pellux/zip2exe" ] || fail "zip2exe is not installed"
for size in 16 22 24 32 48 64 128 256; do
  file "$P/share/icons/hicolor/${size}x${size}/apps/pellux.png" | grep -q "PNG image data, $size x $size" ||
    fail "the ${size}x${size} icon is not a PNG of that size"
done
for program in pellux pellux-cli; do
  readelf -d "$P/lib/pellux/$program" | grep -q 'RUNPATH.*\[\$ORIGIN\]' || fail "$program's RUNPATH is not \$ORIGIN"
done

desktop-file-validate "$P/share/applications/pellux.desktop"
appstreamcli validate --pedantic --no-net "$P/share/metainfo/org.example.pellux.metainfo.xml" >/dev/null
for page in pellux pellux-cli zip2exe; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$P/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page $page.1: $warnings"
done

# Loads of the build tree show in the dynamic loader's trace.
from_build() { grep -F "$BUILD/" "$1" | grep -E 'file=|calling init' || true; }
cd "$WORK"
printf 'hello\n' >a.txt
printf 'more\n' >b.txt
zip -q a.zip a.txt
LD_DEBUG=files LD_DEBUG_OUTPUT=$WORK/ld-cli "$P/bin/pellux-cli" list a.zip >list.txt
grep -q "^a.txt	" list.txt || fail "pellux-cli list printed: $(cat list.txt)"
LD_DEBUG=files LD_DEBUG_OUTPUT=$WORK/ld-add "$P/bin/pellux-cli" add a.zip b.txt >/dev/null
unzip -Z1 a.zip | grep -qx b.txt || fail "pellux-cli add did not add b.txt"
cat "$WORK"/ld-add.* | grep -q "file=$P/lib/pellux/libpxzip.so" || fail "libpxzip.so was not loaded from the prefix"

# The window offscreen: it runs until stopped (status 124) instead of failing to start.
status=0
QT_QPA_PLATFORM=offscreen LD_DEBUG=files LD_DEBUG_OUTPUT=$WORK/ld-gui \
  timeout 3 "$P/bin/pellux" a.zip >gui.txt 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "pellux ended with status $status: $(cat gui.txt)"

leaks=$(cat "$WORK"/ld-* | from_build /dev/stdin)
[ -z "$leaks" ] || fail "the installed programs loaded files of the build tree: $leaks"
echo "installed-tree: $P runs on its own"
