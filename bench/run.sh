#!/usr/bin/env bash
# Prints the program's figures beside the floor of a minimal Qt window:
# start to first paint and peak memory (median of several runs, under Xvfb),
# then the CPU share and longest event-loop block of a whole setup run of each
# adaptor family against the simulator, and ten runs in one batch beside one
# of each family (needs root for the namespaces).
#
#   bench/run.sh [runs]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/tools/packages.sh"
netrika_install_packages xvfb
netrika_build "$top" bench_minimal_window bench_netrika_window bench_setup_run bench_batch_run netrika-adaptor-sim netrika-net-helper
runs="${1:-9}"
bin="$top/build/bench"

# Start to first paint, measured from outside: from the fork to the line the
# window prints once it has been painted.
measure() {
    local program="$1"
    local start end line
    start=$(date +%s%N)
    line="$("$program" | head -n 1)"
    end=$(date +%s%N)
    echo "$(((end - start) / 1000)) ${line#painted }"
}
median() { sort -n | awk '{a[NR]=$1} END {m=int((NR+1)/2); print a[m]}'; }

# A display of its own, without a screen.
display=":$((200 + $$ % 50))"
Xvfb "$display" -nolisten tcp -screen 0 800x600x24 >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
export DISPLAY="$display"
sleep 1
results="$(for i in $(seq "$runs"); do
    echo "minimal $(measure "$bin/bench_minimal_window")"
    echo "netrika $(measure "$bin/bench_netrika_window")"
done)"
for which in minimal netrika; do
    us=$(awk -v w=$which '$1==w {print $2}' <<<"$results" | median)
    kb=$(awk -v w=$which '$1==w {print $3}' <<<"$results" | median)
    eval "${which}_us=$us ${which}_kb=$kb"
done
echo "Start to first paint (median of $runs, Xvfb):"
awk -v mu="$minimal_us" -v mk="$minimal_kb" -v nu="$netrika_us" -v nk="$netrika_kb" 'BEGIN {
    printf "  minimal Qt window  %6.1f ms   peak RSS %6.1f MB\n", mu / 1000, mk / 1024
    printf "  Netrika window     %6.1f ms   peak RSS %6.1f MB\n", nu / 1000, nk / 1024
    printf "  ratio              %6.2f x            %6.2f x\n", nu / mu, nk / mk
}'

echo "Whole setup runs at the 3000 ms tick:"
if [ "$(id -u)" -eq 0 ]; then
    QT_QPA_PLATFORM=offscreen "$bin/bench_setup_run"
    "$bin/bench_batch_run"
else
    echo "  (needs root for its network namespaces: sudo bench/run.sh)"
fi
