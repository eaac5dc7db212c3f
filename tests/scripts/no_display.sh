#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Without a display that answers, scripts/run must stop with one plain line
# that names the ways out, not leave only GLUT's own error.
set -u
cd "$(dirname "$0")/../.." || exit 1
for display in "" ":7777"; do
    out=$(DISPLAY=$display bash -c '. scripts/lib.sh && require_display' 2>&1)
    status=$?
    lines=$(printf '%s\n' "$out" | wc -l)
    echo "DISPLAY='$display': status $status: $out"
    [ "$status" -eq 1 ] && [ "$lines" -eq 1 ] || exit 1
    case $out in *"no X display"*xvfb-run*) ;; *) exit 1 ;; esac
    case $out in *DISPLAY*) ;; *) exit 1 ;; esac
done
