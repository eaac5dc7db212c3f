# SPDX-License-Identifier: MIT
# A fresh minimal root of a Debian release, shared by the scripts that prove
# the tree on one (test-release, test-desktops, test-arch): the release named
# on their command line, root through sudo, the cached root and a fresh
# overlay of it for each run, its namespace, and a cleanup that ends and
# unmounts everything whatever happens. Sourced after lib.sh; the script
# names itself in ROOT_SCRIPT first.
# shellcheck shell=bash

say() { echo "$ROOT_SCRIPT: $*" >&2; }
die() {
    say "$*"
    exit 2
}

# The release a command line names: bookworm, trixie or sid, from 12, 13,
# stable or unstable too. Prints the codename, or fails.
root_suite() {
    case ${1:-} in
        12 | bookworm) echo bookworm ;;
        13 | trixie | stable) echo trixie ;;
        unstable | sid) echo sid ;;
        *) return 1 ;;
    esac
}

# Runs this script again through sudo unless root already, with the settings
# named kept: sudo resets the environment. Call with "$0" "$@".
root_become_root() {
    [ "$(id -u)" -ne 0 ] || return 0
    command -v sudo >/dev/null || die "needs root, or sudo, to make and enter a root"
    local settings=() name
    for name in QUENDAL_ROOTS QUENDAL_ARCHIVE $ROOT_KEPT_SETTINGS; do
        [ -z "${!name+set}" ] || settings+=("$name=${!name}")
    done
    exec sudo -- env "${settings[@]}" "$@"
}

# Sets up the run for the release given: the tools it needs, the cache, the
# logs and the traps. The log of the run is $logs/$log_name.log.
root_init() {
    suite=$1
    local tool
    for tool in git chroot mount umount findmnt flock useradd unshare pivot_root setpriv; do
        command -v "$tool" >/dev/null || die "$tool is missing; install it first"
    done
    if ! command -v debootstrap >/dev/null; then
        apt_get install -y -qq --no-install-recommends debootstrap >/dev/null 2>&1 ||
            die "debootstrap is missing and apt-get could not install it"
    fi
    cache=$(realpath -m "${QUENDAL_ROOTS:-/var/cache/quendal/roots}")
    pristine=$cache/$suite
    # Packages downloaded into any root of this release, kept for the next
    # run: the same .debs, fetched once.
    debs=$cache/$suite.debs
    logs=$PWD/build-release
    log=$logs/${ROOT_LOG_NAME:-$suite}.log
    root_user=newcomer
    run=""
    child=""
    making=""
    trap root_cleanup EXIT
    trap 'say "interrupted"; exit 130' INT
    trap 'say "terminated"; exit 143' TERM
    trap 'say "hung up"; exit 129' HUP
    mkdir -p "$logs"
    : >"$log"
}

# Runs a command in the background, its output appended to the file given
# first, and waits for it, so that an interrupt is handled at once rather
# than when the command ends (and is reported here, not in that file).
interruptible() {
    local output=$1
    shift
    "$@" >>"$output" 2>&1 &
    child=$!
    local status=0
    wait "$child" || status=$?
    child=""
    return "$status"
}

# Every mount point at or below the directory given, deepest first.
mounts_below() {
    findmnt -rn -o TARGET | awk -v top="$1" '$0 == top || index($0, top "/") == 1' | sort -r
}

# Ends whatever still runs inside the directory given as its root.
kill_inside() {
    local dir=$1 pid root signal
    for signal in TERM KILL; do
        local found=0
        for root in /proc/[0-9]*/root; do
            [ "$(readlink "$root" 2>/dev/null)" = "$dir" ] || continue
            pid=${root#/proc/}
            pid=${pid%/root}
            kill -s "$signal" "$pid" 2>/dev/null && found=1
        done
        [ "$found" -eq 1 ] || break
        sleep 2
    done
}

# Unmounts everything at or below the directory given, lazily where a plain
# unmount fails. Returns non-zero if anything is still mounted.
unmount_below() {
    local dir=$1 target
    for target in $(mounts_below "$dir"); do
        umount "$target" 2>/dev/null || umount -l "$target" 2>/dev/null || true
    done
    [ -z "$(mounts_below "$dir")" ]
}

# Safe to call more than once: ends the processes of the run, unmounts, and
# removes the run's directory only when nothing is mounted below it.
root_cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    if [ -n "$child" ]; then
        # unshare ignores TERM while it waits: it gets KILL after 2 s.
        kill "$child" 2>/dev/null || true
        local tries=0
        while kill -0 "$child" 2>/dev/null && [ "$tries" -lt 4 ]; do
            sleep 0.5
            tries=$((tries + 1))
        done
        kill -KILL "$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    fi
    if [ -n "$run" ] && [ -d "$run" ]; then
        kill_inside "$run/root"
        if unmount_below "$run"; then
            # What this run downloaded, kept for the next; a package another
            # run kept meanwhile stays as it is.
            [ ! -d "$run/debs" ] ||
                find "$run/debs" -maxdepth 1 -name '*.deb' -links 1 -exec ln -t "$debs" {} + \
                    2>/dev/null || true
            rm -rf --one-file-system "$run"
        else
            say "could not unmount everything below $run; left it in place"
        fi
    fi
    if [ -n "$making" ] && [ -d "$pristine.new" ]; then
        unmount_below "$pristine.new" && rm -rf --one-file-system "$pristine.new"
    fi
    # The logs belong to whoever ran this, through sudo or not.
    [ -z "${SUDO_UID:-}" ] || [ ! -d "$logs" ] || chown -R "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$logs"
    run=""
    exit "$status"
}

# Runs a command, and fails with one line naming it if it fails.
must() {
    "$@" || die "failed: $*"
}

# Makes the cached root once: debootstrap into a scratch directory, renamed
# only when it succeeded. A lock keeps a second run from making it too.
root_make_pristine() {
    mkdir -p "$cache"
    exec 9>"$cache/$suite.lock"
    flock 9
    if [ -d "$pristine" ]; then
        exec 9>&-
        return 0
    fi
    local uri
    uri=$(archive_uri)
    [ -n "$uri" ] || die "no Debian archive found in /etc/apt/sources.list*; set QUENDAL_ARCHIVE"
    making=yes
    rm -rf --one-file-system "$pristine.new"
    say "making a minimal $suite root from $uri (once; kept in $pristine)"
    : >"$logs/$suite-debootstrap.log"
    if ! interruptible "$logs/$suite-debootstrap.log" debootstrap --variant=minbase \
        --include=git,ca-certificates,sudo "$suite" "$pristine.new" "$uri"; then
        die "debootstrap of $suite from $uri failed: $(grep -E '^E:' "$logs/$suite-debootstrap.log" |
            tail -n 1 || true) (log: $logs/$suite-debootstrap.log)"
    fi
    unmount_below "$pristine.new" || die "debootstrap left mounts below $pristine.new"
    mv "$pristine.new" "$pristine"
    making=""
    exec 9>&-
}

# Lays a fresh overlay over the cached root (a copy where overlays fail),
# and gives it what a newcomer's machine has: this machine's apt settings
# for the dated archive, a user with sudo, and the kernel's file systems.
# The root is $run/root, with this repository's HEAD in /tmp/quendal.bundle.
root_enter_fresh_copy() {
    root_make_pristine
    if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
        say "note: uncommitted changes are not tested; the clone has HEAD, $(git rev-parse --short HEAD)"
    fi
    run=$(mktemp -d "$cache/run-$suite.XXXXXX")
    local root=$run/root
    mkdir -p "$root" "$run/upper" "$run/work" "$debs"
    if ! mount -t overlay overlay -o "lowerdir=$pristine,upperdir=$run/upper,workdir=$run/work" \
        "$root" 2>/dev/null; then
        must cp -a "$pristine/." "$root/"
    fi
    dated_archive_options >"$root/etc/apt/apt.conf.d/99dated-archive"
    must chroot "$root" useradd -m -s /bin/bash "$root_user"
    echo "$root_user ALL=(ALL) NOPASSWD: ALL" >"$root/etc/sudoers.d/$root_user"
    chmod 0440 "$root/etc/sudoers.d/$root_user"
    must mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys" 2>/dev/null || must mount --bind /sys "$root/sys"
    must mount --bind /dev "$root/dev"
    must mount --bind /dev/pts "$root/dev/pts"
    must mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
    must mount -t tmpfs -o mode=0755 tmpfs "$root/run"
    mkdir -m 1777 "$root/run/lock"
    # The packages downloaded before, linked into a directory of this run's
    # own: apt locks the directory it downloads into, and runs overlap.
    mkdir "$run/debs"
    find "$debs" -maxdepth 1 -name '*.deb' -exec ln -t "$run/debs" {} +
    must mount --bind "$run/debs" "$root/var/cache/apt/archives"
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    # An installed system names itself in /etc/hosts; sudo asks for that name.
    [ -e "$root/etc/hosts" ] || printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n' "$(hostname)" \
        >"$root/etc/hosts"
    local out
    out=$(git bundle create "$root/tmp/quendal.bundle" HEAD 2>&1) ||
        die "git bundle could not pack HEAD: $(printf '%s\n' "$out" | tail -n 1)"
    chmod 0644 "$root/tmp/quendal.bundle"
}

# Enters the root given as the only root of a new mount namespace, with
# pivot_root rather than chroot: the kernel refuses user namespaces, which
# the package test's testbed is, to a chrooted process. Then runs a shell
# command as the user given, in a clean login environment.
# shellcheck disable=SC2016 # expanded by the shell that enters the root
ROOT_ENTER='set -e
mount --make-rprivate /
mount --rbind "$1" "$1"
cd "$1"
pivot_root . mnt
umount -l /mnt
mount -t proc proc /proc
home=/home/$2 path=/usr/local/bin:/usr/bin:/bin
[ "$2" != root ] || home=/root path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
setpriv --reuid="$2" --regid="$2" --init-groups env -i HOME="$home" USER="$2" \
    LOGNAME="$2" SHELL=/bin/bash LANG=C.UTF-8 PATH="$path" bash -c "cd && $3"'

# Runs a shell command in the root as the user given (the newcomer, or
# root), its output appended to the log. The shell that entered the root
# stays, as root, the first process of its own pid namespace (a change of
# user would clear --kill-child's signal): when unshare ends, it is killed,
# and with it every process of the namespace. With ROOT_OFFLINE set, the
# command has a network namespace of its own too, with no network: X's
# abstract sockets, which are the network namespace's, are then the root's
# alone, and no X server of this machine's can take a display number the
# root's servers choose.
root_run_as() {
    interruptible "$log" unshare --mount --pid --fork --kill-child ${ROOT_OFFLINE:+--net} \
        sh -c "$ROOT_ENTER" sh "$run/root" "$1" "$2"
}

# The newcomer's clone of this repository's HEAD, in ~/quendal.
root_clone() {
    root_run_as "$root_user" "git clone -q -c advice.detachedHead=false /tmp/quendal.bundle quendal" ||
        die "$suite: git clone failed (log: $log)"
}
