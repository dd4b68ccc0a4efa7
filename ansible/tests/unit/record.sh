#!/usr/bin/env bash
# Records what the real netrika-cli prints under --json for the modules'
# unit tests (recorded/NAME.jsonl, and NAME's exit status in
# recorded/exit-statuses), against the project's adaptor simulator.
#
# Everything runs inside network namespaces made here and removed on exit:
# a site host with a bridge (10.77.150.1/24) and one namespace for each
# simulated adaptor. netrika-cli runs in the host's namespace only; nothing
# is sent from the namespace this script starts in. Needs root, and a build
# (it uses build/app/netrika-cli and the simulator); run it under the build
# lock:
#
#   flock /tmp/netrika-build.lock ansible/tests/unit/record.sh build [NAME...]
set -euo pipefail
build="$(cd "$1" && pwd)"
shift
here="$(cd "$(dirname "$0")" && pwd)"
out="$here/recorded"
cli="$build/app/netrika-cli"
sim="$build/tools/adaptor-sim/netrika-adaptor-sim"
tag="rec$$"
host="nk-$tag-h"
work="$(mktemp -d)"
namespaces=("$host")
pids=()

finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
    rm -rf "$work"
}
trap finish EXIT

ip netns add "$host"
ip -n "$host" link set lo up
ip -n "$host" link add "nk${tag}br" type bridge
ip -n "$host" addr add 10.77.150.1/24 brd + dev "nk${tag}br"
ip -n "$host" link set "nk${tag}br" up

# adaptor <k> <mac> [simulator options...]: a simulated adaptor on the bridge.
adaptor() {
    local k="$1" mac="$2"
    shift 2
    local ns="nk-$tag-$k" near="nk${tag}h$k" far="nk${tag}d$k"
    namespaces+=("$ns")
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    ip link add "$near" netns "$host" type veth peer name "$far" netns "$ns"
    ip -n "$host" link set "$near" master "nk${tag}br" up
    ip -n "$ns" link set "$far" up
    mkdir -p "$work/sim$k"
    ip netns exec "$ns" "$sim" --interface "$far" --mac "$mac" --record "$work/sim$k" "$@" >"$work/sim$k.out" &
    pids+=($!)
    for _ in $(seq 100); do
        grep -q '^ready$' "$work/sim$k.out" && return 0
        sleep 0.1
    done
    echo "the simulated adaptor $mac did not start" >&2
    return 1
}

# record <name> <netrika-cli arguments...>: its JSON lines and exit status;
# as the user nobody when as_nobody is set.
as_nobody=()
record() {
    local name="$1" status=0
    shift
    ip netns exec "$host" "${as_nobody[@]}" "$cli" "$@" --json >"$out/$name.jsonl" 2>"$work/$name.err" || status=$?
    sed -i "/^$name /d" "$out/exit-statuses"
    echo "$name $status" >>"$out/exit-statuses"
    echo "$name: exit $status, $(wc -l <"$out/$name.jsonl") lines"
}

# record_interrupted <name> <seconds> <netrika-cli arguments...>: as record,
# with SIGTERM after the given time (a terminal's Ctrl-C does the same, but a
# job in the background of a script does not hear SIGINT).
record_interrupted() {
    local name="$1" after="$2" status=0
    shift 2
    ip netns exec "$host" "$cli" "$@" --json >"$out/$name.jsonl" 2>"$work/$name.err" &
    local pid=$!
    sleep "$after"
    kill -TERM "$pid"
    wait "$pid" || status=$?
    sed -i "/^$name /d" "$out/exit-statuses"
    echo "$name $status" >>"$out/exit-statuses"
    echo "$name: exit $status, $(wc -l <"$out/$name.jsonl") lines"
}

net=(--mask 255.255.255.0 --gateway 10.77.150.254)
tick=(--tick-ms 150)
adaptor 1 00-80-a3-15-00-01 --address 10.77.150.50/24 # in place at .50
adaptor 2 00-80-a3-15-00-02 --misbehave refuse:3001  # no sign on its port
adaptor 3 00-80-a3-15-00-03
adaptor 4 00-80-a3-15-00-04
adaptor 5 00-80-a3-15-00-05 --misbehave slow

# wanted <name>: whether to record it (all of them when none was named).
names=("$@")
wanted() { [ ${#names[@]} -eq 0 ] || [[ " ${names[*]} " == *" $1 "* ]]; }

# Another adaptor already answers at the address.
wanted setup-check-taken &&
    record setup-check-taken setup "${tick[@]}" --mac 00-80-a3-15-00-09 --ip 10.77.150.50 "${net[@]}" --check
# Nobody answers at the address the adaptor is said to have.
wanted setup-check-not-found &&
    record setup-check-not-found setup "${tick[@]}" --mac 00-80-a3-15-00-09 --ip 10.77.150.71 \
        --current-ip 10.77.150.70 "${net[@]}" --check
# An adaptor that never answers: the run fails.
wanted setup-failed &&
    record setup-failed setup "${tick[@]}" --mac 00-80-a3-15-00-09 --ip 10.77.150.72 "${net[@]}"
# Given its address, then the sign does not take the test message.
wanted setup-sign-test-failed &&
    record setup-sign-test-failed setup "${tick[@]}" --mac 00-80-a3-15-00-02 --ip 10.77.150.52 "${net[@]}" \
        --sign-test
# A batch whose slow row is interrupted.
if wanted batch-interrupted; then
    printf 'name,mac,ip,mask,gateway\nRamp 5,00-80-a3-15-00-05,10.77.150.55,255.255.255.0,10.77.150.254\n' \
        >"$work/interrupted.csv"
    record_interrupted batch-interrupted 2 batch "$work/interrupted.csv" "${tick[@]}" --report "$work/i.csv"
fi
# A batch resumed from the report of one that gave the first row its address.
if wanted batch-resumed; then
    printf 'name,mac,ip,mask,gateway\nGate 3,00-80-a3-15-00-03,10.77.150.53,255.255.255.0,10.77.150.254\n' \
        >"$work/first.csv"
    ip netns exec "$host" "$cli" batch "$work/first.csv" "${tick[@]}" --report "$work/first-report.csv" \
        --json >/dev/null 2>&1
    printf 'name,mac,ip,mask,gateway\nGate 3,00-80-a3-15-00-03,10.77.150.53,255.255.255.0,10.77.150.254\nGate 4,00-80-a3-15-00-04,10.77.150.54,255.255.255.0,10.77.150.254\n' \
        >"$work/both.csv"
    record batch-resumed batch "$work/both.csv" "${tick[@]}" --resume "$work/first-report.csv" \
        --report "$work/second-report.csv"
fi
# A batch's check: one adaptor in place already, one to be given its address.
sheet='name,mac,ip,mask,gateway\nRamp 1,00-80-a3-15-00-01,10.77.150.50,255.255.255.0,10.77.150.254\nGate 4,00-80-a3-15-00-04,10.77.150.64,255.255.255.0,10.77.150.254\n'
if wanted batch-check; then
    printf "$sheet" >"$work/check.csv"
    record batch-check batch "$work/check.csv" "${tick[@]}" --check
fi
# The same check when every adaptor is in place: nothing would change.
if wanted batch-check-in-place; then
    printf 'name,mac,ip,mask,gateway\nRamp 1,00-80-a3-15-00-01,10.77.150.50,255.255.255.0,10.77.150.254\n' \
        >"$work/check-in-place.csv"
    record batch-check-in-place batch "$work/check-in-place.csv" "${tick[@]}" --check
fi
# A batch whose adaptor is in place already: left alone, and told so.
if wanted batch-in-place; then
    printf 'name,mac,ip,mask,gateway\nRamp 1,00-80-a3-15-00-01,10.77.150.50,255.255.255.0,10.77.150.254\n' \
        >"$work/in-place.csv"
    record batch-in-place batch "$work/in-place.csv" "${tick[@]}" --report "$work/in-place-report.csv"
fi
# A sweep interrupted, and one that cannot run: a user outside the group
# netrika, whose helper in the build tree holds no capability.
wanted scan-cancelled && record_interrupted scan-cancelled 1 scan --range 10.77.150.0/24
if wanted scan-error; then
    as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    record scan-error scan --range 10.77.150.0/24
    as_nobody=()
fi
LC_ALL=C sort -o "$out/exit-statuses" "$out/exit-statuses"
