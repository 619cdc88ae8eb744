#!/usr/bin/env bash
# Builds the Debian package from a configured and built tree, installs it with apt as a
# user would, runs the installed pellux-cli on an archive, removes the package again and
# checks that none of its files stays behind:
#   scripts/check-deb.sh [BUILD_DIR]      (default build/release; needs root or sudo)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath "${1:-build/release}")
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "check-deb: $*" >&2; exit 1; }

rm -f "$BUILD"/pellux_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null 2>&1) || fail "cpack -G DEB failed in $BUILD"
DEB=$(ls "$BUILD"/pellux_*.deb)
echo "$(basename "$DEB"): $(stat -c %s "$DEB") bytes"
dpkg-deb -f "$DEB" Depends | sed 's/^/Depends: /'

# A package left by an interrupted run would make apt skip the install.
if dpkg-query -W -f='${Status}' pellux 2>/dev/null | grep -q "install ok installed"; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y pellux >/dev/null
fi
(cd "$BUILD" && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y ./"$(basename "$DEB")") >"$WORK/install.log" 2>&1 ||
  { cat "$WORK/install.log" >&2; fail "apt-get install failed"; }
dpkg -L pellux >"$WORK/files"

cd "$WORK"
printf 'hello\n' >a.txt
zip -q a.zip a.txt
[ "$(command -v pellux-cli)" = /usr/bin/pellux-cli ] || fail "pellux-cli is not /usr/bin/pellux-cli"
/usr/bin/pellux-cli list a.zip >list.txt
grep -q "^a.txt	" list.txt || fail "/usr/bin/pellux-cli list printed: $(cat list.txt)"
/usr/bin/pellux-cli extract a.zip -d out >/dev/null
cmp -s a.txt out/a.txt || fail "/usr/bin/pellux-cli extract did not give a.txt back"
desktop-file-validate /usr/share/applications/pellux.desktop
[ -x /usr/lib/pellux/pellux ] || fail "/usr/lib/pellux/pellux is not installed"

DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y pellux >/dev/null 2>&1
left=""
while IFS= read -r path; do
  # Folders such as /usr/share/icons belong to other packages too; files and links not.
  if [ -L "$path" ] || [ -f "$path" ]; then left+="$path "; fi
done <"$WORK/files"
[ ! -e /usr/lib/pellux ] || left+="/usr/lib/pellux "
[ -z "$left" ] || fail "left after apt-get remove: $left"
# Removal keeps dpkg's record of the package (state "rc") until it is purged.
DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y pellux >/dev/null 2>&1
echo "check-deb: installed, ran /usr/bin/pellux-cli, removed without a trace"
