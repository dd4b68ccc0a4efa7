#!/usr/bin/env bash
# Runs a Windows program under wine in a network namespace of its own, with
# one segment (10.77.98.1/24 on a veth pair whose other end nobody holds):
#   with-wine-netns.sh <wine> <program> [arguments...]
# The program sees the segment's interface in NETRIKA_SEGMENT. Wine carries
# out much of the network in processes of its prefix (the adapter list and
# the echo in its device service), which live in the namespace their first
# program started in: the program gets a prefix of its own, made and ended
# inside the namespace, so that nothing of it runs, asks or sends outside.
# Needs root; without it the test is skipped, and fails under CI=true.
set -euo pipefail
wine="$1"
shift
if [ "$(id -u)" -ne 0 ]; then
    echo "with-wine-netns.sh: needs root, to make a network namespace" >&2
    # Skipped (CTest's skip code), but never in CI, where it must run.
    [ "${CI:-}" = true ] && exit 1
    exit 77
fi
ns="nk-wine-$$"
prefix="$(mktemp -d)"
cleanup() {
    ip netns exec "$ns" env WINEPREFIX="$prefix" "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "$prefix"
}
trap cleanup EXIT
ip netns add "$ns"
ip -n "$ns" link set lo up
ip -n "$ns" link add nkw0 type veth peer name nkw1
ip -n "$ns" addr add 10.77.98.1/24 dev nkw0
ip -n "$ns" link set nkw0 up
ip -n "$ns" link set nkw1 up
ip netns exec "$ns" env WINEPREFIX="$prefix" NETRIKA_SEGMENT=nkw0 "$wine" wineboot --init >/dev/null 2>&1 || true
ip netns exec "$ns" env WINEPREFIX="$prefix" NETRIKA_SEGMENT=nkw0 "$wine" "$@"
