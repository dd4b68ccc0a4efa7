#!/usr/bin/env bash
# Runs the whole test suite several times on a busy machine: a test that only
# passes when it has the processor to itself (it reads a recording, a file or
# a table before the event it expects has happened) fails here.
#
#   tools/stress-test.sh [ROUNDS]     (default 3)
#
# Builds first, then runs every CTest suite ROUNDS times with -j$(nproc) while
# two busy processes keep the processor loaded. Prints each round's failures
# and exits non-zero if any round failed.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
rounds="${1:-3}"
case "$rounds" in
'' | *[!0-9]* | 0)
    echo "usage: tools/stress-test.sh [ROUNDS]   (ROUNDS a whole number from 1)" >&2
    exit 2
    ;;
esac
source "$top/tools/packages.sh"
netrika_install_packages
netrika_build "$top"
export QT_QPA_PLATFORM=offscreen

# Two processes that only burn the processor; they end with this script,
# however it ends.
busy=()
stop_busy() {
    if [ ${#busy[@]} -gt 0 ]; then
        kill "${busy[@]}" 2>/dev/null || true
        wait "${busy[@]}" 2>/dev/null || true
    fi
}
trap stop_busy EXIT
for _ in 1 2; do
    (while :; do :; done) &
    busy+=($!)
done

failed_rounds=0
start=$(date +%s)
cd "$top/build"
for round in $(seq "$rounds"); do
    log="$top/build/stress-round-$round.log"
    round_start=$(date +%s)
    if ctest --output-on-failure -j"$(nproc)" >"$log" 2>&1; then
        echo "round $round of $rounds: passed ($(($(date +%s) - round_start)) s)"
    else
        failed_rounds=$((failed_rounds + 1))
        echo "round $round of $rounds: FAILED ($(($(date +%s) - round_start)) s), log in $log"
        # The suites that failed, and the lines that say why.
        grep -E '^[[:space:]]*[0-9]+ - .*\((Failed|Timeout|SEGFAULT|Subprocess aborted|Not Run)\)' "$log" || true
        grep -E '^(FAIL!|   Loc:)' "$log" | head -n 40 || true
    fi
done
echo "$rounds rounds in $(($(date +%s) - start)) s under load: $((rounds - failed_rounds)) passed, $failed_rounds failed"
[ "$failed_rounds" -eq 0 ]
