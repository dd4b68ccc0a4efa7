#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/tools/packages.sh"
netrika_install_packages
netrika_build "$top" netrika netrika-net-helper
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Built $top/build/app/netrika, but there is no display to show the window on." >&2
    echo "Start it from a desktop session (or set DISPLAY)." >&2
    exit 2
fi
exec "$top/build/app/netrika" "$@"
