#!/usr/bin/env bash
# The installed helper against a second member of the group netrika, who is
# not root and turns the helpers' shared folder against the first member, root
# and the host. Runs as root in a mount namespace of its own, with /run on a
# fresh tmpfs, so that the host's folder is never touched, and with network
# namespaces of its own:
#
#   unshare --mount --propagation private tests/package/member_attacks.sh <member> <second member>
#
# Prints PASS/FAIL lines and the figures it measured; fails when a check does.
set -euo pipefail
first="$1"
second="$2"
helper=/usr/libexec/netrika/netrika-net-helper
folder=/run/netrika
source "$(dirname "$0")/checking.sh"

mount -t tmpfs -o mode=755 netrika-attacks /run
work="$(mktemp -d)"
host="nk-mh-$$"
device="nk-md-$$"
cleanup() {
    pkill -u "$first" 2>/dev/null || true
    pkill -u "$second" 2>/dev/null || true
    ip netns del "$host" 2>/dev/null || true
    ip netns del "$device" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
ip netns add "$host"
ip netns add "$device"
ip link add nkmh0 netns "$host" type veth peer name nkmd0 netns "$device"
for ns in "$host" "$device"; do ip -n "$ns" link set lo up; done
ip -n "$host" addr add 10.77.121.1/24 dev nkmh0
ip -n "$device" addr add 10.77.121.2/24 dev nkmd0
ip -n "$host" link set nkmh0 up
ip -n "$device" link set nkmd0 up
index="$(ip netns exec "$host" cat /sys/class/net/nkmh0/ifindex)"
namespace="$(ip netns exec "$host" stat -Lc %i /proc/self/ns/net)"
mac=00:80:a3:61:63:dd

as() { # as <user> <command...>: in the host's namespace, as that user
    local who="$1"
    shift
    (cd / && ip netns exec "$host" setpriv --reuid="$who" --regid="$who" --init-groups "$@")
}
asks() { # asks <user> <request>...: a helper of the user's answers, then its input ends; its log in $work/log
    local who="$1"
    shift
    if (($#)); then printf '%s\n' "$@"; fi | as "$who" timeout 30 "$helper" 2>"$work/log"
}
answers() { # answers <pattern> <user> <request>: the helper's answer (after its greeting) matches
    local pattern="$1" out
    shift
    out="$(asks "$@" | tail -n +2)"
    echo "  answer: $out"
    grep -Eq "$pattern" <<<"$out"
}
# Ends every process of the second member's: the locks it held go with them.
let_go() {
    pkill -u "$second" 2>/dev/null || true
    for _ in $(seq 50); do pgrep -u "$second" >/dev/null || break; sleep 0.1; done
}
permanent() { ip -n "$host" neigh show "$1" | grep -q "lladdr $mac PERMANENT"; }
gone() { ! ip -n "$host" neigh show "$1" | grep -q PERMANENT; }

# Root's helper, the first since boot, makes the folder as the package does:
# the group's and sticky, with root's fixed files the group may write. The
# capability to give them to the group is dropped only then.
greeting="$(asks root | head -n 1)"
check "root's helper, the first, starts" grep -q "^netrika-net-helper" <<<"$greeting"
check "root's helper makes the folder root:netrika 3770" test "$(stat -c '%a %U %G' "$folder")" = "3770 root netrika"
for fixed in probes sweep; do
    check "root's helper makes $fixed root:netrika 0660" test "$(stat -c '%a %U %G' "$folder/$fixed")" = "660 root netrika"
done
check "a member's helper after root's makes an entry" answers "^ok added" "$first" "neigh-add 10.77.121.40 $mac"
check "... and removes it as its input ends" gone 10.77.121.40
check "root's helper after a member's probes" answers "^ok answered" root "echo 10.77.121.2"

# The first member's helper holds an entry while the second goes after it.
coproc living { as "$first" "$helper" 2>"$work/living.log"; }
living_pid=$living_PID
read -r -t 10 _ <&"${living[0]}"
echo "neigh-add 10.77.121.50 $mac" >&"${living[1]}"
read -r -t 10 answer <&"${living[0]}"
check "the first member's helper makes its entry" test "$answer" = "ok added nkmh0"
lock="$(ls "$folder/$namespace".*.lock | head -n 1)"
check "the first member's record is theirs, writable by them only" \
    test "$(stat -c '%a %U' "$lock" "${lock%.lock}.entries" | sort -u)" = "640 $first"
# Its lock replaced by an empty file of the second member's, to read as ended.
as "$second" bash -c ': >"$1/.forged" && mv -f "$1/.forged" "$2"' _ "$folder" "$lock" 2>/dev/null || true
check "the second member cannot replace the first's lock" test "$(stat -c %U "$lock")" = "$first"
as "$second" rm -f "$lock" "${lock%.lock}.entries" 2>/dev/null || true
check "the second member cannot remove the first's record" test -e "${lock%.lock}.entries"
# A record of the second member's own, naming the first's entry.
as "$second" bash -c 'printf "%s neigh-add 10.77.121.50 %s\n" "$3" "$4" >"$1/$2.1.1.entries" && : >"$1/$2.1.1.lock"' \
    _ "$folder" "$namespace" "$index" "$mac"
asks "$second" >/dev/null
check "a sweep of a record forged by the second member leaves the first's living entry" permanent 10.77.121.50

# Records forged to hold every start hostage: 120 records of 1400 entries on
# an interface that is gone, 40 of them held under locks.
as "$second" bash -c '
    for j in $(seq 1400); do printf "99999 neigh-add 10.77.%d.%d 02:00:00:00:01:01\n" $((j / 200 + 1)) $((j % 200 + 1)); done >/tmp/forged.$$
    for i in $(seq 120); do cp /tmp/forged.$$ "$1/$2.$((9000 + i)).1.entries" && : >"$1/$2.$((9000 + i)).1.lock"; done
    rm -f /tmp/forged.$$' _ "$folder" "$namespace"
as "$second" bash -c 'for i in $(seq 81 120); do exec {fd}<"$1/$2.$((9000 + i)).1.lock"; flock -n "$fd"; done; exec sleep 120' \
    _ "$folder" "$namespace" 2>/dev/null &
disown
sleep 1
for attempt in first next; do
    start=$EPOCHREALTIME
    greeting="$(asks "$first" | head -n 1)"
    took=$(((${EPOCHREALTIME/./} - ${start/./}) / 1000))
    echo "  figure: the $attempt start of a helper beside 120 forged records of 1400 entries, 40 held: $took ms"
    check "forged records: the $attempt start greets" grep -q "^netrika-net-helper" <<<"$greeting"
    check "forged records: the $attempt start says at most one line" test "$(wc -l <"$work/log")" -le 1
    sed 's/^/  log: /' "$work/log"
done
check "forged records: the first member's living entry is still there" permanent 10.77.121.50
let_go
# 64 records a sweep: two sweeps of the second member's own clear its 121.
asks "$second" >/dev/null
asks "$second" >/dev/null
check "the second member's own sweeps clear its forgeries" \
    test "$(find "$folder" -user "$second" -name '*.entries' | wc -l)" = 0

# The probe budget held by the second member: a probe of the first's is
# answered by its deadline. Send times in the future stop no probe.
as "$second" flock "$folder/probes" sleep 60 2>/dev/null &
disown
sleep 0.5
check "the budget held by a member: another's probe is answered (refused) by its deadline" \
    answers "^refused .*too many probes on this host" "$first" "echo 10.77.121.2"
let_go
as "$second" bash -c 'printf "\xff\xff\xff\xff\xff\xff\xff\x7f%.0s" 1 2 3 4 >"$1/probes"' _ "$folder"
check "the budget forged with times in the future: another's probe goes out" \
    answers "^ok answered" "$first" "echo 10.77.121.2"

# The first member's helper ends; another of theirs is killed holding three
# entries. A helper that cannot remove them says so in one line, and the next
# that can removes them.
eval "exec ${living[1]}>&-"
wait "$living_pid" 2>/dev/null || true
check "the first member's helper, its input ended, removes its entry" gone 10.77.121.50
coproc killed { as "$first" "$helper" 2>/dev/null; }
killed_pid=$killed_PID
read -r -t 10 _ <&"${killed[0]}"
for n in 60 61 62; do
    echo "neigh-add 10.77.121.$n $mac" >&"${killed[1]}"
    read -r -t 10 _ <&"${killed[0]}"
done
pkill -KILL -u "$first" -x netrika-net-hel
wait "$killed_pid" 2>/dev/null || true
sleep 0.2 # a clean-up leaves alone the entries made since it began
check "a killed helper's entries stay until the next helper starts" permanent 10.77.121.62
# The same helper, given CAP_NET_RAW only.
lesser="$(mktemp -d)"
chmod 755 "$lesser"
install -m 0755 "$helper" "$lesser/netrika-net-helper"
setcap cap_net_raw+ep "$lesser/netrika-net-helper"
(cd / && ip netns exec "$host" setpriv --reuid="$second" --regid="$second" --init-groups \
    timeout 30 "$lesser/netrika-net-helper" </dev/null >/dev/null 2>"$work/log") || true
rm -rf "$lesser"
sed 's/^/  log: /' "$work/log"
check "a helper that cannot remove them says so in one line" \
    bash -c '[ "$(wc -l <"$1")" = 1 ] && grep -q "^.*3 entries left by helpers that have ended could not be removed" "$1"' _ "$work/log"
asks "$second" >/dev/null
check "the next helper that can removes them" bash -c '! ip -n "$1" neigh show | grep -q PERMANENT' _ "$host"

# A member's helper never makes a fixed file (one it made would be the
# member's, to lock root and the others out of, or to remove): with the
# budget missing, as a folder made by hand without it leaves it, a member's
# probe is refused with the way to lay the folder out.
rm -f "$folder/probes"
check "without the budget a member's probe fails, saying how to lay the folder out" \
    answers "^failed .*probe budget .*systemd-tmpfiles --create netrika.conf" "$first" "echo 10.77.121.2"
check "... and the member's helper has not made it" test ! -e "$folder/probes"
install -m 0660 -o root -g netrika /dev/null "$folder/probes"
# A lease on the budget (taken here by its owner, root) holds no probe for
# the 45 s the kernel gives a lease's holder: the file is opened without
# blocking, and the probe fails at once.
python3 -c 'import fcntl, os, signal, sys, time
signal.signal(signal.SIGIO, signal.SIG_IGN)
fd = os.open(sys.argv[1], os.O_RDONLY)
fcntl.fcntl(fd, fcntl.F_SETLEASE, fcntl.F_RDLCK)
time.sleep(60)' "$folder/probes" &
lease_pid=$!
sleep 0.5
start=$EPOCHREALTIME
check "a lease on the budget: a member's probe is answered at once" \
    answers "^failed .*probe budget .*(temporarily unavailable|would block)" "$first" "echo 10.77.121.2"
echo "  figure: a probe beside a lease on the budget answered in $(((${EPOCHREALTIME/./} - ${start/./}) / 1000)) ms"
kill "$lease_pid" 2>/dev/null || true
wait "$lease_pid" 2>/dev/null || true

# A living helper's entry against the clean-up of ended helpers, raced as a
# member would race it: the second member keeps 64 ended records of 256
# entries in the folder, each naming the first member's address and MAC
# last, and starts helpers in a loop, each of which clears them; the first
# member starts a helper, makes the entry and holds it. The clean-up reads
# the living helpers' claims first and looks up every listed entry before it
# removes one, so an entry made in between is not among the claims: it must
# stay all the same, in every round.
victim=10.77.121.70
as "$second" bash -c '
    for j in $(seq 255); do printf "%s neigh-add 10.77.%d.%d 02:00:00:00:02:02\n" "$3" $((j / 200 + 130)) $((j % 200 + 1)); done >/tmp/race.$$
    printf "%s neigh-add %s %s\n" "$3" "$4" "$5" >>/tmp/race.$$
    while :; do
        for i in $(seq 64); do cp /tmp/race.$$ "$1/$2.$((30000 + i)).1.entries" && : >"$1/$2.$((30000 + i)).1.lock"; done
        timeout 10 "$6" </dev/null >/dev/null 2>&1
    done' _ "$folder" "$namespace" "$index" "$victim" "$mac" "$helper" 2>/dev/null &
disown
sleep 1
rounds=40
lost=0
for round in $(seq "$rounds"); do
    coproc holder { as "$first" "$helper" 2>/dev/null; }
    holder_pid=$holder_PID
    read -r -t 10 _ <&"${holder[0]}"
    echo "neigh-add $victim $mac" >&"${holder[1]}"
    read -r -t 10 answer <&"${holder[0]}" || answer=""
    if [ "${answer#ok added}" != "$answer" ]; then
        for _ in $(seq 20); do
            if ! permanent "$victim"; then
                lost=$((lost + 1))
                break
            fi
            sleep 0.02
        done
    else
        echo "  round $round: $answer"
    fi
    eval "exec ${holder[1]}>&-"
    wait "$holder_pid" 2>/dev/null || true
done
let_go
echo "  figure: a living helper's entry lost to another member's clean-ups in $lost of $rounds rounds"
check "a living helper's entry stays through another member's clean-ups, raced" test "$lost" -eq 0
check "... and goes with its helper" gone "$victim"

echo "member attacks: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
