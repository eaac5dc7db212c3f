#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Without a display that answers, scripts/run must stop with one plain line
# that says what to do, not leave only GLUT's own error: with no DISPLAY,
# how to run it on a virtual one; in a Wayland session without XWayland, that
# it needs XWayland; with a DISPLAY that does not answer, which one.
set -euo pipefail
cd "$(dirname "$0")/../.."
check() {
    local display=$1 wayland=$2 want=$3 out status lines
    status=0
    out=$(DISPLAY=$display WAYLAND_DISPLAY=$wayland bash -c '. scripts/lib.sh && require_display' 2>&1) ||
        status=$?
    lines=$(printf '%s\n' "$out" | wc -l)
    echo "DISPLAY='$display' WAYLAND_DISPLAY='$wayland': status $status: $out"
    [ "$status" -eq 1 ] && [ "$lines" -eq 1 ] || exit 1
    case $out in *$want*) ;; *) echo "expected it to say: $want"; exit 1 ;; esac
}
check "" "" "xvfb-run -s '-screen 0 800x600x24' scripts/run"
check "" wayland-0 XWayland
check :7777 "" "no X display answers at :7777"
