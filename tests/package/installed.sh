#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs in the package's throwaway testbed, as root, after apt installed the
# .deb there: the viewer from PATH under the rendering tests (with the
# progress probe that QUENDAL_PROBE names), then a purge that must leave
# nothing of the package.
set -eu
fail() {
    echo "$*" >&2
    exit 1
}

[ "$(command -v quendal)" = /usr/bin/quendal ] || fail "quendal is not on PATH after installing"
QUENDAL_VIEWER=/usr/bin/quendal "$QUENDAL_RENDER_TESTS" --gtest_filter='Window.*:Picture.InitialView*'

files=$(mktemp)
dpkg-query -L quendal | while read -r f; do
    [ -d "$f" ] || echo "$f"
done >"$files"
[ -s "$files" ] || fail "dpkg lists no files of quendal"
apt-get purge -y -qq quendal >/dev/null
[ "$(dpkg-query -W -f='${db:Status-Status}' quendal 2>/dev/null || echo not-installed)" = \
    not-installed ] || fail "quendal is still known to dpkg after purging"
while read -r f; do
    [ ! -e "$f" ] || fail "$f is left after purging"
done <"$files"
echo "installed, run from PATH, purged and gone: ok"
