#!/usr/bin/env bash
# Runs a command on an X server of its own (Xvfb, no window manager), so that
# a test sees a real X display: with-xvfb.sh <command...>
# Xvfb picks a free display number itself and reports it once it accepts
# clients, so tests running side by side never race for a number.
set -euo pipefail
if ! command -v Xvfb >/dev/null; then
    echo "with-xvfb.sh: Xvfb is not installed (Debian package xvfb)" >&2
    exit 1
fi
dir="$(mktemp -d)"
mkfifo "$dir/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT
number=""
read -r -t 20 number <"$dir/display" || true
if [ -z "$number" ]; then
    echo "with-xvfb.sh: Xvfb did not start:" >&2
    cat "$dir/xvfb.log" >&2
    exit 1
fi
DISPLAY=":$number" "$@"
