#!/usr/bin/env bash
# Builds the Debian package from a configured and built tree, checks it with lintian and
# its programs and libraries for Debian's hardening, installs it with apt as a user
# would, runs the installed pellux-cli on an archive, removes the package again and
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

# Every error and warning of lintian fails; its notes on root are no finding.
status=0
lintian --fail-on error,warning "$DEB" >"$WORK/lintian.txt" 2>&1 || status=$?
grep -v '^running with root privileges' "$WORK/lintian.txt" >&2 || true
[ "$status" -eq 0 ] || fail "lintian found errors or warnings in $(basename "$DEB")"
dpkg-deb --ctrl-tarfile "$DEB" | tar -t | grep -qE '(postinst|postrm|preinst|prerm)$' &&
  fail "the package has maintainer scripts: $(dpkg-deb --ctrl-tarfile "$DEB" | tar -t | tr '\n' ' ')"

# Hardening as dpkg-buildflags gives it with hardening=+all, read off the ELF files:
# full RELRO (GNU_RELRO and bind-now), PIE programs, the stack protector and fortified
# calls.
dpkg-deb -x "$DEB" "$WORK/deb"
elves=0
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] || continue
  elves=$((elves + 1))
  name=${file#"$WORK"/deb}
  readelf -lW "$file" | grep -q GNU_RELRO || fail "$name has no RELRO segment"
  readelf -dW "$file" | grep -qE '\(BIND_NOW\)|\(FLAGS\).*NOW' || fail "$name is not linked with -z now"
  [[ $name == *.so ]] || readelf -dW "$file" | grep -qE '\(FLAGS_1\).*PIE' || fail "$name is not a PIE"
  symbols=$(readelf --dyn-syms -W "$file")
  grep -q ' __stack_chk_fail' <<<"$symbols" || fail "$name is built without the stack protector"
  grep -qE ' __[a-z_]+_chk(@|$)' <<<"$symbols" || fail "$name calls no fortified function"
done < <(find "$WORK/deb" -type f -print0)
[ "$elves" -ge 4 ] || fail "only $elves ELF files in the package"
echo "check-deb: lintian is clean; $elves programs and libraries are hardened"

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
appstreamcli validate --pedantic --no-net /usr/share/metainfo/org.example.pellux.metainfo.xml >/dev/null ||
  fail "the installed AppStream metainfo does not validate"
[ -f /usr/share/bash-completion/completions/pellux-cli ] || fail "pellux-cli's bash completion is not installed"
[ -x /usr/lib/pellux/pellux ] || fail "/usr/lib/pellux/pellux is not installed"

DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y pellux >/dev/null 2>&1
left=""
while IFS= read -r path; do
  # Folders such as /usr/share/icons belong to other packages too; files and links not.
  if [ -L "$path" ] || [ -f "$path" ]; then left+="$path "; fi
done <"$WORK/files"
[ ! -e /usr/lib/pellux ] || left+="/usr/lib/pellux "
[ -z "$left" ] || fail "left after apt-get remove: $left"
# A package with configuration files or maintainer scripts would keep dpkg's record
# (state "rc") until purged; ours has neither, so removal leaves no record either.
if dpkg-query -W pellux >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y pellux >/dev/null 2>&1
  fail "dpkg still knew pellux after apt-get remove"
fi
echo "check-deb: installed, ran /usr/bin/pellux-cli, removed without a trace"
