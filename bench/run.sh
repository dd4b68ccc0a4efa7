#!/usr/bin/env bash
# Prints the program's figures beside the floor of a minimal Qt window:
# start to first paint and peak memory (median of several runs, under Xvfb),
# then the CPU share and longest event-loop block of a whole setup run of each
# adaptor family against the simulator, and ten runs in one batch beside one
# of each family (needs root for the namespaces).
#
#   bench/run.sh [runs] [start|helper]  "start": the start-up figures only;
#                                       "helper": the helper's start alone
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/tools/packages.sh"
if [ "${2:-}" = helper ]; then
    netrika_build "$top" bench_helper_start
    exec "$top/build/bench/bench_helper_start"
fi
netrika_install_packages xvfb
runs="${1:-31}"
only="${2:-}"
if [ "$only" = start ]; then
    netrika_build "$top" bench_minimal_window bench_netrika_window bench_netrika_window_qtnetwork
else
    netrika_build "$top" bench_minimal_window bench_netrika_window bench_netrika_window_qtnetwork bench_setup_run bench_batch_run netrika-adaptor-sim netrika-net-helper
fi
bin="$top/build/bench"

# Start to first paint: from the exec of the program, whose wall-clock time
# the shell notes without starting a process of its own, to the moment the
# window reports that it has been painted. The report also holds the peak
# resident memory and the CPU time by then; the next line, the peak once the
# window has settled.
measure() {
    local program="$1"
    local painted settled
    {
        read -r painted
        read -r settled
    } < <(
        echo "$EPOCHREALTIME" >"$work/start"
        exec "$program"
    )
    set -- $painted
    local start
    start=$(<"$work/start")
    echo "$(($4 - ${start/./})) $2 $3 ${settled#settled }"
}
median() { sort -n | awk '{a[NR]=$1} END {m=int((NR+1)/2); print a[m]}'; }

work="$(mktemp -d)"
# A display of its own, without a screen or a window manager.
display=":$((200 + $$ % 50))"
Xvfb "$display" -nolisten tcp -screen 0 800x600x24 >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY="$display"
sleep 1
# The programs take turns, so that whatever else the machine does falls on
# all alike.
results="$(for i in $(seq "$runs"); do
    echo "minimal $(measure "$bin/bench_minimal_window")"
    echo "netrika $(measure "$bin/bench_netrika_window")"
    echo "qtnet $(measure "$bin/bench_netrika_window_qtnetwork")"
done)"
for which in minimal netrika qtnet; do
    for column in 2:us 3:kb 4:cpu 5:settled; do
        value=$(awk -v w=$which -v c="${column%%:*}" '$1==w {print $c}' <<<"$results" | median)
        eval "${which}_${column#*:}=$value"
    done
done
echo "Start to first paint (median of $runs, Xvfb, no window manager):"
awk -v mu="$minimal_us" -v mk="$minimal_kb" -v mc="$minimal_cpu" -v ms="$minimal_settled" \
    -v nu="$netrika_us" -v nk="$netrika_kb" -v nc="$netrika_cpu" -v ns="$netrika_settled" 'BEGIN {
    printf "                     first paint  CPU by then  peak RSS then  peak RSS settled\n"
    printf "  minimal Qt window  %8.1f ms  %8.1f ms  %10.1f MB  %13.1f MB\n", mu / 1000, mc / 1000, mk / 1024, ms / 1024
    printf "  Netrika window     %8.1f ms  %8.1f ms  %10.1f MB  %13.1f MB\n", nu / 1000, nc / 1000, nk / 1024, ns / 1024
    printf "  ratio              %8.2f x   %8.2f x   %10.2f x   %13.2f x\n", nu / mu, nc / mc, nk / mk, ns / ms
    printf "Start-up ratios: time %.2f, peak memory %.2f\n", nu / mu, nk / mk
}'
awk -v nu="$netrika_us" -v nk="$netrika_kb" -v nc="$netrika_cpu" -v ns="$netrika_settled" \
    -v qu="$qtnet_us" -v qk="$qtnet_kb" -v qc="$qtnet_cpu" -v qs="$qtnet_settled" 'BEGIN {
    printf "  with Qt Network    %8.1f ms  %8.1f ms  %10.1f MB  %13.1f MB\n", qu / 1000, qc / 1000, qk / 1024, qs / 1024
    printf "Not linking Qt Network saves: %.1f ms to first paint, %.1f ms CPU, %.1f MB peak memory (%.1f MB settled)\n",
        (qu - nu) / 1000, (qc - nc) / 1000, (qk - nk) / 1024, (qs - ns) / 1024
}'

[ "$only" = start ] && exit 0
echo "Whole setup runs at the 3000 ms tick:"
if [ "$(id -u)" -eq 0 ]; then
    QT_QPA_PLATFORM=offscreen "$bin/bench_setup_run"
    "$bin/bench_batch_run"
    netrika_build "$top" bench_helper_start
    "$bin/bench_helper_start"
else
    echo "  (needs root for its network namespaces: sudo bench/run.sh)"
fi
