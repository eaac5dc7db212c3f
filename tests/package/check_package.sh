#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the .deb the Debian way and puts it before Debian's own judges:
# lintian, hardening-check, desktop-file-validate, appstreamcli and mandoc.
# Then installs it with apt, runs the viewer from PATH under Xvfb (the
# rendering tests, and the package's autopkgtest), purges it and checks that
# nothing of it is left. Also checks `cmake --install`. Needs root, or sudo
# without a password, for apt.
set -euo pipefail
build=$1
render_tests=$2
cd "$(dirname "$0")/../.."
. scripts/lib.sh
work=$(mktemp -d)
installed=""
cleanup() {
    [ -z "$installed" ] || apt_get purge -y -qq quendal >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$*" >&2; exit 1; }

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo -n"
    $sudo true 2>/dev/null || fail "installing the package needs root or sudo without a password"
fi

deb=$(build_deb "$work/out" | tail -n 1)
echo "built $deb"

lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$deb" 2>/dev/null \
    >"$work/lintian.txt" || true
[ ! -s "$work/lintian.txt" ] || fail "lintian: $(cat "$work/lintian.txt")"
# The source package, too. These tags say which lintian reads it, not what
# the package is, so they alone are suppressed:
# - Standards-Version is the newest that Debian 13's lintian knows: Debian
#   12's calls it newer than it knows, and a later one may call it out of date.
# - debhelper compat 13 is the newest level Debian 12's debhelper holds
#   stable; unstable's lintian calls it old.
# - unstable's lintian calls Priority: optional and Rules-Requires-Root: no
#   redundant, as its dpkg assumes both; Debian 12's dpkg does not.
lintian --pedantic --display-info --fail-on error,warning,info,pedantic \
    --suppress-tags newer-standards-version,out-of-date-standards-version \
    --suppress-tags package-uses-old-debhelper-compat-version \
    --suppress-tags redundant-priority-optional-field,redundant-rules-requires-root-no-field \
    "${deb%/*}"/quendal_*.dsc 2>/dev/null >"$work/lintian-source.txt" || true
[ ! -s "$work/lintian-source.txt" ] || fail "lintian (source): $(cat "$work/lintian-source.txt")"

dpkg-deb -x "$deb" "$work/root"
hardening-check "$work/root/usr/bin/quendal" >"$work/hardening.txt" || true
cat "$work/hardening.txt"
for feature in "Position Independent Executable" "Read-only relocations" "Immediate binding"; do
    grep -q "^ $feature: yes" "$work/hardening.txt" || fail "hardening-check: $feature is not yes"
done

check_tree() {
    local root=$1 f
    for f in bin/quendal share/man/man1/quendal.1 share/applications/quendal.desktop \
        share/metainfo/invalid.quendal.quendal.metainfo.xml \
        share/icons/hicolor/{48x48,64x64,128x128,256x256}/apps/quendal.png; do
        [ -f "$root/$f" ] || [ -f "$root/$f.gz" ] || fail "missing $f under $root"
    done
    desktop-file-validate "$root/share/applications/quendal.desktop" || fail "desktop entry"
    # Infos are allowed: the id's domain is the project's .invalid one.
    appstreamcli validate --no-net --pedantic "$root/share/metainfo/"*.metainfo.xml \
        >"$work/appstream.txt" 2>&1 || fail "appstream: $(cat "$work/appstream.txt")"
    ! grep -E '^[EW]:' "$work/appstream.txt" || fail "appstreamcli has errors or warnings"
}
check_tree "$work/root/usr"
lint=$(zcat -f "$work/root/usr/share/man/man1/quendal.1.gz" | mandoc -Tlint 2>&1) || true
[ -z "$lint" ] || fail "mandoc: $lint"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_tree "$work/prefix"

# Installed with apt, from PATH.
installed=yes
apt_get install -y -qq "$deb" >/dev/null
[ "$(command -v quendal)" = /usr/bin/quendal ] || fail "quendal is not on PATH after installing"
QUENDAL_VIEWER=$(command -v quendal) "$render_tests" --gtest_filter='Window.*:Picture.InitialView*'
mkdir "$work/src"
copy_tree "$work/src"
# autopkgtest installs the test's Depends with apt itself: it waits for the
# lock too.
printf 'DPkg::Lock::Timeout "600";\n' >"$work/apt.conf"
$sudo env APT_CONFIG="$work/apt.conf" autopkgtest --no-built-binaries "$deb" "$work/src" -- null \
    >"$work/autopkgtest.txt" 2>&1 ||
    fail "autopkgtest: $(tail -n 30 "$work/autopkgtest.txt")"
grep -qE '^help-and-escape +PASS' "$work/autopkgtest.txt" || fail "autopkgtest did not pass"

apt_get purge -y -qq quendal >/dev/null
installed=""
[ "$(dpkg-query -W -f='${db:Status-Status}' quendal 2>/dev/null || echo not-installed)" = \
    not-installed ] || fail "quendal is still known to dpkg after purging"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' >"$work/files.txt"
while read -r f; do
    [ ! -e "$f" ] || fail "$f is left after purging"
done <"$work/files.txt"
echo "package checked"
