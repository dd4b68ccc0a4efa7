#!/usr/bin/env bash
# Runs a command next to a simulated sign adaptor, on a network of its own.
#
#   tools/netns-run.sh [--family 1|2] [--mac M] [--record DIR] [--sim-arg X ...] -- <command...>
#
# Makes a "host" and a "device" network namespace joined by a veth pair (host
# side 10.77.100.1/24 and no default route, like a laptop cabled straight to
# the adaptor; the device side has no IP address, which the simulated adaptor
# takes on when it is assigned one), starts netrika-adaptor-sim in the
# device namespace, runs the command in the host namespace, and always removes
# everything again, also when the command fails or is interrupted. Nothing is
# ever sent on this machine's own interfaces.
#
# The command sees NETRIKA_SIM_MAC, NETRIKA_SIM_FAMILY, NETRIKA_SIM_RECORD and
# NETRIKA_HOST_INTERFACE. The simulator comes from $NETRIKA_BUILD (default
# build/) under tools/adaptor-sim/. Needs root.
set -euo pipefail

top="$(cd "$(dirname "$0")/.." && pwd)"
build="${NETRIKA_BUILD:-$top/build}"
sim="$build/tools/adaptor-sim/netrika-adaptor-sim"

usage() {
    sed -n '4p' "$0" | sed 's/^#   /usage: /' >&2
    exit 2
}

family=""
mac=""
record=""
sim_args=()
while [ $# -gt 0 ]; do
    case "$1" in
    --family) [ $# -ge 2 ] || usage; family="$2"; shift 2 ;;
    --mac) [ $# -ge 2 ] || usage; mac="$2"; shift 2 ;;
    --record) [ $# -ge 2 ] || usage; record="$2"; shift 2 ;;
    --sim-arg) [ $# -ge 2 ] || usage; sim_args+=("$2"); shift 2 ;;
    --) shift; break ;;
    -h | --help) usage ;;
    *) echo "netns-run.sh: unknown option $1" >&2; usage ;;
    esac
done
[ $# -gt 0 ] || usage

if [ "$(id -u)" -ne 0 ]; then
    echo "netns-run.sh: needs root, to create network namespaces (try: sudo $0 ...)" >&2
    exit 2
fi
command -v ip >/dev/null || { echo "netns-run.sh: the ip tool (iproute2) is missing" >&2; exit 2; }
if [ ! -x "$sim" ]; then
    echo "netns-run.sh: no simulator at $sim; build it first:" >&2
    echo "  cmake --build $build --target netrika-adaptor-sim" >&2
    exit 2
fi

case "$family" in
"") ;;
1 | 2) sim_args=(--family "$family" "${sim_args[@]}") ;;
*) echo "netns-run.sh: --family must be 1 or 2" >&2; exit 2 ;;
esac
if [ -z "$mac" ]; then
    if [ "$family" = 2 ]; then mac="00-80-a3-61-63-dd"; else mac="00-20-4a-1b-2c-3d"; fi
fi
[ -n "$record" ] || record="$(mktemp -d /tmp/netrika-sim.XXXXXX)"
mkdir -p "$record"

# Names unique to this run; interface names stay within 15 characters.
tag="$(printf '%x%04x' "$$" "$((RANDOM % 65536))")"
host_ns="netrika-h-$tag"
device_ns="netrika-d-$tag"
host_if="nrh$tag"
device_if="nrd$tag"
sim_pid=""
command_pid=""

cleanup() {
    local rc=$?
    trap - EXIT INT TERM
    if [ -n "$command_pid" ] && kill -0 "$command_pid" 2>/dev/null; then
        kill "$command_pid" 2>/dev/null || true
        wait "$command_pid" 2>/dev/null || true
    fi
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$sim_pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -KILL "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    ip netns del "$host_ns" 2>/dev/null || true
    ip netns del "$device_ns" 2>/dev/null || true
    echo "netns-run.sh: the adaptor's recording is in $record" >&2
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

ip netns add "$host_ns"
ip netns add "$device_ns"
ip link add "$host_if" netns "$host_ns" type veth peer name "$device_if" netns "$device_ns"
ip -n "$host_ns" link set lo up
ip -n "$device_ns" link set lo up
ip -n "$host_ns" addr add 10.77.100.1/24 brd + dev "$host_if"
ip -n "$host_ns" link set "$host_if" up
ip -n "$device_ns" link set "$device_if" up

ip netns exec "$device_ns" "$sim" --interface "$device_if" --mac "$mac" --record "$record" \
    "${sim_args[@]}" >"$record/sim.out" 2>"$record/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
    grep -qx ready "$record/sim.out" 2>/dev/null && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "netns-run.sh: the simulator did not start:" >&2
        cat "$record/sim.log" >&2
        exit 1
    fi
    sleep 0.1
done
grep -qx ready "$record/sim.out" || { echo "netns-run.sh: the simulator did not get ready" >&2; exit 1; }
echo "netns-run.sh: adaptor $mac ready on $device_if; running the command in $host_ns" >&2

# In the background, so that a TERM or INT for this script is acted on at
# once rather than after the command; it keeps this terminal's input.
NETRIKA_SIM_MAC="$mac" NETRIKA_SIM_FAMILY="${family:-}" NETRIKA_SIM_RECORD="$record" \
    NETRIKA_HOST_INTERFACE="$host_if" ip netns exec "$host_ns" "$@" <&0 &
command_pid=$!
status=0
wait "$command_pid" || status=$?
command_pid=""
exit "$status"
