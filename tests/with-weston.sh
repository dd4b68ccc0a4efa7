#!/usr/bin/env bash
# Runs a command as a client of a Wayland compositor of its own: weston, drawing
# into the X display the caller provides (run it under with-xvfb.sh), which
# also gives the session a keyboard and a pointer.
#
#   with-weston.sh <scale> <command...>     scale: the output's scale, 1 or 2
#
# The command sees WAYLAND_DISPLAY and QT_QPA_PLATFORM=wayland, and
# NETRIKA_DESKTOP_SCALE=<scale>: on Wayland the compositor, not Qt, sets the scale.
set -euo pipefail
scale="$1"
shift
if ! command -v weston >/dev/null; then
    echo "with-weston.sh: weston is not installed (Debian package weston)" >&2
    exit 1
fi
XDG_RUNTIME_DIR="$(mktemp -d)"
export XDG_RUNTIME_DIR
chmod 700 "$XDG_RUNTIME_DIR"
socket="netrika-$$"
weston --backend=x11-backend.so --socket="$socket" --idle-time=0 --scale="$scale" \
    --width=1024 --height=768 >"$XDG_RUNTIME_DIR/weston.log" 2>&1 &
weston=$!
trap 'kill "$weston" 2>/dev/null || true; wait "$weston" 2>/dev/null || true; rm -rf "$XDG_RUNTIME_DIR"' EXIT
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/$socket" ] && break
    sleep 0.1
done
if [ ! -S "$XDG_RUNTIME_DIR/$socket" ]; then
    echo "with-weston.sh: weston did not start:" >&2
    cat "$XDG_RUNTIME_DIR/weston.log" >&2
    exit 1
fi
WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland NETRIKA_DESKTOP_SCALE="$scale" "$@"
