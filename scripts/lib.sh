# SPDX-License-Identifier: MIT
# Shared by the scripts: install what is missing, and build.
# shellcheck shell=bash

# The package lists are used by the scripts that source this file. The
# libraries are named apart from the tools: built for another architecture
# (scripts/test-arch), the libraries are that architecture's, and the tools
# this machine's.
# Debian's packages that building and running the viewer needs.
BUILD_LIBRARIES="libgl-dev libglu1-mesa-dev libglut-dev libx11-dev libgl1-mesa-dri"
BUILD_TOOLS="g++ make cmake x11-utils"
# shellcheck disable=SC2034
BUILD_PACKAGES="$BUILD_TOOLS $BUILD_LIBRARIES"
# What building the Debian package needs on top, its build's own tests
# included.
PACKAGE_LIBRARIES="libgtest-dev"
PACKAGE_TOOLS="build-essential debhelper dpkg-dev xvfb xdotool"
PACKAGE_PACKAGES="$PACKAGE_TOOLS $PACKAGE_LIBRARIES"
# Debian's own judges of a package; autopkgtest to run its tests in a
# throwaway testbed, which mmdebstrap makes and uidmap lets a normal user
# enter.
PACKAGE_CHECK_PACKAGES="lintian devscripts desktop-file-utils appstream mandoc autopkgtest
    mmdebstrap uidmap"
# What the tests need on top: the package's (GoogleTest, a private X server,
# real input), xvfb-run's xauth, the static checkers and the tools that build
# and check the .deb.
# shellcheck disable=SC2034 # used by the scripts that source this file
TEST_PACKAGES="xauth clang-tidy cppcheck clang-format shellcheck groff-base $PACKAGE_PACKAGES
    $PACKAGE_CHECK_PACKAGES"

# Installs those of the named packages that are not installed yet, so that a
# second run costs nothing.
need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if [ "$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null)" != installed ]; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing ${missing[*]}"
    apt_get update -qq
    apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Runs a command as root, through sudo (which may ask for a password) unless
# root already.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo -- "$@"
    fi
}

# Runs apt-get as root without questions. Another apt or dpkg (unattended
# upgrades, a second script) may hold the lock: wait for it rather than fail.
apt_get() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}

# Gives the user subordinate ids, once, unless they have them: the package's
# testbed is a user namespace, which maps them. The entry goes first, because
# util-linux 2.38's unshare --map-auto takes root's range from the first
# named entry, whoever it names.
need_subids() {
    local user file start new
    user=$(id -un)
    # One free range, above every range given, for both files.
    start=$(cat /etc/subuid /etc/subgid 2>/dev/null |
        awk -F: 'BEGIN { top = 100000 } $2 + $3 > top { top = $2 + $3 } END { print top }')
    for file in /etc/subuid /etc/subgid; do
        if [ "$(head -n 1 "$file" 2>/dev/null | cut -d: -f1)" = "$user" ] ||
            { [ "$user" != root ] && grep -q "^$user:" "$file" 2>/dev/null; }; then
            continue
        fi
        echo "Giving $user the subordinate ids $start-$((start + 65535)) in $file"
        new=$(mktemp)
        { echo "$user:$start:65536"; cat "$file" 2>/dev/null || true; } >"$new"
        as_root install -m 0644 "$new" "$file"
        rm -f "$new"
    done
}

# The Debian release this machine runs, as its archive names it.
debian_suite() {
    if grep -q sid /etc/debian_version 2>/dev/null; then
        echo sid
    else
        sed -n 's/^VERSION_CODENAME=//p' /etc/os-release
    fi
}

# The Debian archive this machine's apt is configured with (the source that
# serves its own release), or QUENDAL_ARCHIVE.
archive_uri() {
    local codename uri
    codename=$(debian_suite)
    uri=$(awk -v want="$codename" '
        /^URIs:/ { uri = $2 }
        /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == want && uri != "") { print uri; exit } }
        /^$/ { uri = "" }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    if [ -z "$uri" ]; then
        uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
            awk -v want="$codename" '$1 == "deb" { sub(/\[[^]]*\] */, ""); if ($3 == want) { print $2; exit } }')
    fi
    echo "${QUENDAL_ARCHIVE:-$uri}"
}

# This machine's apt settings for a dated archive, one per line, which a new
# root needs too.
dated_archive_options() {
    apt-config dump | grep -E '^Acquire::Check-(Valid-Until|Date) ' || true
}

# Configures the build tree of the preset named (CMakePresets.json: default,
# in build/, or sanitize, in build-sanitize/), quickly when nothing changed;
# -D options may follow.
configure() {
    local preset=$1
    shift
    cmake --preset "$preset" "$@" >/dev/null
}

# Starts an Xvfb server of the size given (WIDTHxHEIGHT) on a display it
# picks itself (a number guessed from lock files may be taken meanwhile), with
# no key repeat; sets xvfb_pid and xvfb_number once it accepts connections,
# or fails if it ended first.
open_xvfb() {
    local fd
    exec {fd}< <(exec Xvfb -displayfd 1 -r -screen 0 "$1x24" -nolisten tcp 2>/dev/null)
    xvfb_pid=$!
    read -r xvfb_number <&"$fd"
    exec {fd}<&-
}

# Starts a private Xvfb server on a free display, 800 x 600 or the size given
# (WIDTHxHEIGHT), exports DISPLAY, and stops the server when the script exits.
start_xvfb() {
    open_xvfb "${1:-800x600}"
    XVFB_PID=$xvfb_pid
    trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
    export DISPLAY=":$xvfb_number"
}

# Fails with one plain line, naming the ways out, unless an X display answers.
# Without xdpyinfo (not installed yet) only an unset DISPLAY can be told, so
# that a machine with no display hears it before anything is installed.
require_display() {
    if [ -n "${DISPLAY:-}" ]; then
        if ! command -v xdpyinfo >/dev/null || xdpyinfo >/dev/null 2>&1; then
            return 0
        fi
        echo "quendal: no X display answers at $DISPLAY; set DISPLAY to a running X server" >&2
    elif [ -n "${WAYLAND_DISPLAY:-}" ]; then
        echo "quendal: this Wayland session has no XWayland (DISPLAY is not set); the viewer is an X11 program: enable XWayland in the compositor, or log in to a session that has it" >&2
    else
        echo "quendal: no X display (DISPLAY is not set); on a machine without one, install xvfb and xauth and run: xvfb-run -s '-screen 0 800x600x24' scripts/run" >&2
    fi
    return 1
}

# Copies the source tree, without build trees or anything git ignores, into
# the directory given.
copy_tree() {
    local dest=$1
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -z --cached --others --exclude-standard |
            tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$dest"
    else
        tar --exclude='./build*' --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$dest"
    fi
}

# Builds the source package and the .deb the Debian way, with
# dpkg-buildpackage and debhelper, in a clean copy of the tree; the build runs
# the tests that need no root unless DEB_BUILD_OPTIONS says nocheck. Further
# arguments go to dpkg-buildpackage (--host-arch ARCH, for one). Leaves the
# .dsc, its tarball, the .deb and the build's log (named .build, as debuild
# names it) in the directory given, and prints the path of the .deb.
build_deb() {
    local out=$1 work deb
    shift
    work=$(mktemp -d)
    mkdir "$work/quendal"
    copy_tree "$work/quendal"
    if ! (cd "$work/quendal" && dpkg-buildpackage -us -uc "$@") >"$work/build.log" 2>&1; then
        cat "$work/build.log" >&2
        rm -rf "$work"
        return 1
    fi
    mkdir -p "$out"
    deb=$(basename "$work"/quendal_*.deb)
    cp "$work"/quendal_*.deb "$work"/quendal_*.dsc "$work"/quendal_*.tar.* "$out"/
    cp "$work/build.log" "$out/${deb%.deb}.build"
    echo "$out/$deb"
    rm -rf "$work"
}

# Holds the packages given (.deb or .dsc) to lintian at its strictest:
# pedantic, every tag shown, any tag a failure; further options go before
# them. Prints what lintian found, less the one line it says when run as
# root, and fails if it found anything or could not run.
lint_package() {
    local out status=0
    out=$(lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$@" 2>&1) ||
        status=$?
    out=$(printf '%s\n' "$out" | grep -vx 'running with root privileges is not recommended!' || true)
    [ -z "$out" ] || printf '%s\n' "$out"
    [ "$status" -eq 0 ] && [ -z "$out" ]
}
