#!/usr/bin/env bash
# Builds the program and the adaptor simulator, then starts the real window
# next to a simulated adaptor on a network of its own, so that a whole setup
# can be watched without any hardware.
#
#   sudo -E tools/demo.sh [1|2]        (family 1: 00-20-4a, family 2: 00-80-a3; default 2)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/tools/packages.sh"

family="${1:-2}"
case "$family" in
1 | 2) ;;
*)
    echo "usage: sudo -E tools/demo.sh [1|2]" >&2
    exit 2
    ;;
esac
if [ "$(id -u)" -ne 0 ]; then
    echo "The demo makes network namespaces and needs root: sudo -E tools/demo.sh $family" >&2
    exit 2
fi
if [ -z "${DISPLAY:-}" ]; then
    echo "The demo shows the window on your desktop: run it from a desktop session (DISPLAY is not set)." >&2
    exit 2
fi

netrika_install_packages
netrika_build "$top" netrika netrika-adaptor-sim

# The window talks to the X server through its socket in /tmp/.X11-unix,
# which every network namespace can reach.
exec "$top/tools/netns-run.sh" --family "$family" -- env DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}" \
    QT_QPA_PLATFORM=xcb bash -c '
        echo
        echo "A simulated adaptor of family $NETRIKA_SIM_FAMILY waits on the other end of $NETRIKA_HOST_INTERFACE."
        echo "Type into the window:"
        echo "  MAC address  $NETRIKA_SIM_MAC"
        echo "  IP address   10.77.100.50"
        echo "  Subnet mask  255.255.255.0 (as it stands)"
        echo "  Gateway      10.77.100.254"
        echo "then press Setup. The transcript of the conversation is recorded in $NETRIKA_SIM_RECORD."
        echo
        exec "$0"
    ' "$top/build/app/netrika"
