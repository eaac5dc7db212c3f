#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the .deb the Debian way and puts it before Debian's own judges:
# lintian, hardening-check, desktop-file-validate, appstreamcli and mandoc.
# Then, in a throwaway testbed and never on this machine, autopkgtest
# installs it with apt and runs the package's own test and this suite's:
# the viewer from PATH under the rendering tests, and a purge that must leave
# nothing. Also checks `cmake --install`. Needs no root: the testbed is
# autopkgtest's unshare one, from a minimal root of this machine's release
# that mmdebstrap makes once into the user's cache.
set -euo pipefail
build=$1
render_tests=$2
probe=$3
cd "$(dirname "$0")/../.."
. scripts/lib.sh
work=$(mktemp -d)
partial=""
trap 'rm -rf "$work" ${partial:+"$partial"}' EXIT
fail() { echo "$*" >&2; exit 1; }

# Runs a judge, and fails with its own words if it cannot run or finds
# anything: its exit status and everything it printed count.
judge() {
    local name=$1 out
    shift
    if ! out=$("$@" 2>&1) || [ -n "$out" ]; then
        fail "$name: ${out:-exited with no output}"
    fi
}

# The testbed is a user namespace, which a chroot, or a container that
# refuses them, cannot make: say so before building anything.
unshare --user true 2>/dev/null ||
    fail "this machine refuses user namespaces (as a chroot does), which the package's throwaway testbed needs; run the suite in a root of its own with scripts/test-release instead"

deb=$(build_deb "$work/out" | tail -n 1)
echo "built $deb"

judge lintian lint_package "$deb"
# The source package, too. These tags say which lintian reads it, not what
# the package is, so they alone are suppressed:
# - Standards-Version is the newest that Debian 13's lintian knows: Debian
#   12's calls it newer than it knows, and a later one may call it out of date.
# - debhelper compat 13 is the newest level Debian 12's debhelper holds
#   stable; unstable's lintian calls it old.
# - unstable's lintian calls Priority: optional and Rules-Requires-Root: no
#   redundant, as its dpkg assumes both; Debian 12's dpkg does not.
# Only the tags this lintian knows are named: it warns of any other.
suppressed=$(lintian-explain-tags --list-tags | grep -Fx -e newer-standards-version \
    -e out-of-date-standards-version -e package-uses-old-debhelper-compat-version \
    -e redundant-priority-optional-field -e redundant-rules-requires-root-no-field | paste -sd, -) ||
    fail "lintian-explain-tags could not list lintian's tags"
judge "lintian (source)" lint_package --suppress-tags "$suppressed" "${deb%/*}"/quendal_*.dsc

dpkg-deb -x "$deb" "$work/root"
# hardening-check exits non-zero for any feature it misses, some of which a
# program this small cannot have; the three that matter are read instead.
hardening-check "$work/root/usr/bin/quendal" >"$work/hardening.txt" 2>&1 || true
cat "$work/hardening.txt"
for feature in "Position Independent Executable" "Read-only relocations" "Immediate binding"; do
    grep -q "^ $feature: yes" "$work/hardening.txt" ||
        fail "hardening-check: $feature is not yes: $(cat "$work/hardening.txt")"
done

check_tree() {
    local root=$1 f
    for f in bin/quendal share/man/man1/quendal.1 share/applications/quendal.desktop \
        share/metainfo/invalid.quendal.quendal.metainfo.xml \
        share/icons/hicolor/{48x48,64x64,128x128,256x256}/apps/quendal.png; do
        [ -f "$root/$f" ] || [ -f "$root/$f.gz" ] || fail "missing $f under $root"
    done
    judge desktop-file-validate desktop-file-validate "$root/share/applications/quendal.desktop"
    # Infos are allowed: the id's domain is the project's .invalid one.
    appstreamcli validate --no-net --pedantic "$root/share/metainfo/"*.metainfo.xml \
        >"$work/appstream.txt" 2>&1 || fail "appstream: $(cat "$work/appstream.txt")"
    ! grep -E '^[EW]:' "$work/appstream.txt" || fail "appstreamcli has errors or warnings"
    zcat -f "$root/share/man/man1/quendal.1"* >"$work/quendal.1"
    judge mandoc mandoc -Tlint "$work/quendal.1"
}
check_tree "$work/root/usr"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_tree "$work/prefix"

# Runs a command with only the three standard descriptors open. mmdebstrap
# hands apt's hooks a descriptor of its own, numbered after whatever else is
# open (ctest leaves several), and Debian 13's dash cannot name one past 9.
without_extra_fds() {
    (
        local fd
        for fd in /proc/"$BASHPID"/fd/*; do
            fd=${fd##*/}
            [ "$fd" -le 2 ] || eval "exec $fd>&-"
        done
        exec "$@"
    )
}

# The testbed: a minimal root of this machine's release with the package's
# and the tests' dependencies, so that installing needs no download. It is
# made once per release and list of packages, under a lock, and kept.
# dpkg-dev: autopkgtest unpacks the tests' source in the testbed with it.
packages=$( {
    echo dpkg-dev
    dpkg-deb -f "$deb" Depends
    sed -n 's/^Depends://p' debian/tests/control tests/package/control
} | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | grep -v -e '^$' -e '^@' | sort -u |
    paste -sd, -)
suite=$(debian_suite)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quendal
tarball=$cache/testbed-$suite-$(echo "$packages" | md5sum | cut -c1-12).tar
mkdir -p "$cache"
exec 9>"$tarball.lock"
flock 9
if [ ! -f "$tarball" ]; then
    uri=$(archive_uri)
    [ -n "$uri" ] || fail "no Debian archive found in /etc/apt/sources.list*; set QUENDAL_ARCHIVE"
    echo "making the testbed $tarball from $uri (once)"
    aptopts=()
    while read -r option; do
        aptopts+=(--aptopt="$option")
    done < <(dated_archive_options)
    # The package lists stay in the root, for apt to install the .deb from.
    # mmdebstrap writes a tarball to a name that ends in .tar; it is renamed
    # only once whole.
    partial=${tarball%.tar}.partial.tar
    without_extra_fds mmdebstrap --variant=apt --skip=cleanup/apt/lists --include="$packages" \
        "${aptopts[@]}" "$suite" "$partial" "$uri" </dev/null >"$work/mmdebstrap.txt" 2>&1 ||
        fail "mmdebstrap could not make the testbed: $(tail -n 20 "$work/mmdebstrap.txt")"
    mv "$partial" "$tarball"
    partial=""
fi
exec 9>&-

# The package's own test and this suite's, run in one testbed.
mkdir "$work/src"
copy_tree "$work/src"
cat debian/tests/control <(echo) tests/package/control >"$work/control"
autopkgtest --no-built-binaries --override-control="$work/control" \
    --copy="$render_tests:/tmp/quendal-render-tests" --env=QUENDAL_RENDER_TESTS=/tmp/quendal-render-tests \
    --copy="$probe:/tmp/quendal-progress-probe.so" --env=QUENDAL_PROBE=/tmp/quendal-progress-probe.so \
    "$deb" "$work/src" -- unshare --release "$suite" --tarball "$tarball" \
    >"$work/autopkgtest.txt" 2>&1 ||
    fail "autopkgtest: $(tail -n 30 "$work/autopkgtest.txt")"
for test in help-and-escape installed.sh; do
    grep -m 1 -E "^$test +PASS" "$work/autopkgtest.txt" ||
        fail "autopkgtest: $test did not pass: $(tail -n 30 "$work/autopkgtest.txt")"
done
echo "package checked"
