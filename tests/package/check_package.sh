#!/usr/bin/env bash
# Builds the .deb from a configured build tree, checks what it holds and what
# it depends on, unpacks it into a fresh directory and runs the unpacked viewer
# under Xvfb through the rendering tests. Also checks `cmake --install`.
set -euo pipefail
build=$1
render_tests=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >/dev/null
deb=$(ls "$work"/out/quendal_*_amd64.deb "$work"/out/quendal_*.deb 2>/dev/null | head -n 1)
[ -f "$deb" ] || fail "cpack made no .deb"

# Depends is read off the binary's real shared libraries, and apt can meet it.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libglut3 libglu1 libopengl0 libglx0; do
    case $depends in *"$lib"*) ;; *) fail "Depends lacks $lib" ;; esac
done
apt-get install --simulate --no-install-recommends "$deb" >/dev/null || fail "apt cannot meet Depends"

check_tree() {
    local root=$1
    for f in bin/quendal share/man/man1/quendal.1 share/applications/quendal.desktop; do
        [ -f "$root/$f" ] || fail "missing $f under $root"
    done
    [ -x "$root/bin/quendal" ] || fail "$root/bin/quendal is not executable"
    warnings=$(groff -man -Tutf8 -ww -z "$root/share/man/man1/quendal.1" 2>&1)
    [ -z "$warnings" ] || fail "man page: $warnings"
    desktop-file-validate "$root/share/applications/quendal.desktop" || fail "desktop entry"
}

dpkg-deb -x "$deb" "$work/root"
check_tree "$work/root/usr"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_tree "$work/prefix"

QUENDAL_VIEWER="$work/root/usr/bin/quendal" "$render_tests" \
    --gtest_filter='Window.*:Picture.InitialView*'
echo "package checked"
